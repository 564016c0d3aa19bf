#pragma once

// The welcome window, shown once on the first launch: the icon, the greeting and tagline, four
// rows on what Vyo does, "로그인 시 Vyo 실행" and "시작하기" (Return), which closes it.
// Children: "featureRow_keyboard" (its "detail" follows the new-shelf shortcut),
// "launchAtLogin" (check box), "startButton".

#include "platform/LoginItem.h"

#include <QDialog>

class QLabel;

namespace vyo {

class WelcomeView : public QDialog
{
    Q_OBJECT
public:
    explicit WelcomeView(const LoginItem &loginItem = LoginItem(), QWidget *parent = nullptr);

    // The keyboard row's text for the new-shelf shortcut as it is now.
    static QString keyboardDetail();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    LoginItem m_loginItem;
    QLabel *m_keyboardDetail = nullptr;
};

} // namespace vyo
