#pragma once

// The small window of an update session: what a check the user started found ("최신 버전을 쓰고
// 있어요." or the new version with its release notes and "내려받기"/"나중에"), or a scheduled
// check's update while the user is in Vyo, then how the installation went. Showing an update
// counts as the user looking at it; closing the window ends the update session.

#include "logic/UpdateFeed.h"
#include "update/Updater.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QPushButton;
class QTextBrowser;

namespace vyo {

class UpdateWindow : public QWidget
{
    Q_OBJECT
public:
    explicit UpdateWindow(Updater &updater, QWidget *parent = nullptr);
    ~UpdateWindow() override;

    // From now on the updater's answers show in a window of this kind: one window at a time,
    // reused while it is open, deleted when closed or when the application quits.
    static void follow(Updater &updater);

    void showUpToDate();
    void showUpdate(const UpdateItem &item);
    void showFailure(const QString &message);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void download();
    void installFinished(Updater::InstallOutcome outcome, const QString &detail);
    // Sets the texts and the buttons' roles, then brings the window to the front.
    void present(const QString &title, const QString &detail, bool offersDownload);

    QPointer<Updater> m_updater;
    UpdateItem m_item;
    QLabel *m_title = nullptr;
    QLabel *m_detail = nullptr;
    QTextBrowser *m_notes = nullptr;
    QPushButton *m_download = nullptr;
    QPushButton *m_later = nullptr;
};

} // namespace vyo
