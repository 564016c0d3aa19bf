#pragma once

// Dialogs that tests answer in advance and read back: the next save dialog's answer, and every
// save request, alert and beep, recorded instead of shown.

#include "platform/Dialogs.h"

#include <QList>

namespace vyo {

class FakeDialogs final : public Dialogs
{
public:
    // Records the request; answers it later (as a dialog would be) with the answer set by
    // setNextSaveAnswer, used once. Without an answer the dialog stays open for good: nothing is
    // called.
    void askForSavePath(const SaveRequest &request, QObject *context,
                        std::function<void(std::optional<QString>)> completion) override;
    void showAlert(const Alert &alert) override { m_alerts.append(alert); }
    void beep() override { ++m_beeps; }

    // The next save dialog is answered with `path` (nothing: cancelled).
    void setNextSaveAnswer(std::optional<QString> path);
    QList<SaveRequest> saveRequests() const { return m_saveRequests; }
    QList<Alert> alerts() const { return m_alerts; }
    int beeps() const { return m_beeps; }
    // Forgets the answer and everything recorded.
    void clear();

private:
    bool m_hasSaveAnswer = false;
    std::optional<QString> m_saveAnswer;
    QList<SaveRequest> m_saveRequests;
    QList<Alert> m_alerts;
    int m_beeps = 0;
};

} // namespace vyo
