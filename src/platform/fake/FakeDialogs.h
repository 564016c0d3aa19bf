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
    // Records the request; answers it later with the answer set by setNextFoldersAnswer, used
    // once; without one the dialog stays open for good.
    void askForFolders(const FoldersRequest &request, QObject *context,
                       std::function<void(QStringList)> completion) override;
    void showAlert(const Alert &alert) override { m_alerts.append(alert); }
    void beep() override { ++m_beeps; }

    // The next save dialog is answered with `path` (nothing: cancelled).
    void setNextSaveAnswer(std::optional<QString> path);
    QList<SaveRequest> saveRequests() const { return m_saveRequests; }
    // The next folder dialog is answered with `paths` (empty: cancelled).
    void setNextFoldersAnswer(const QStringList &paths);
    QList<FoldersRequest> foldersRequests() const { return m_foldersRequests; }
    QList<Alert> alerts() const { return m_alerts; }
    int beeps() const { return m_beeps; }
    // Forgets the answer and everything recorded.
    void clear();

private:
    bool m_hasSaveAnswer = false;
    std::optional<QString> m_saveAnswer;
    QList<SaveRequest> m_saveRequests;
    bool m_hasFoldersAnswer = false;
    QStringList m_foldersAnswer;
    QList<FoldersRequest> m_foldersRequests;
    QList<Alert> m_alerts;
    int m_beeps = 0;
};

} // namespace vyo
