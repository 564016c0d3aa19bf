#pragma once

// The save dialog, alerts and the system beep behind one seam. Nothing here blocks the
// application: the save dialog reports through a callback and alerts are shown application-modal
// without a nested event loop. Tests answer in advance (setNextSaveAnswer) or record what would
// be shown (the recorders), so that no dialog ever waits for a person during a test.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vyo {

class Dialogs
{
public:
    // What a save dialog asks for.
    struct SaveRequest
    {
        QString title;
        // The line of explanation shown in the dialog.
        QString message;
        // The confirm button's text.
        QString confirmText;
        // The folder the dialog starts in.
        QString directory;
        // The file name filled in.
        QString suggestedName;
        // Name filters such as "ZIP 압축 파일 (*.zip)", and the suffix added to a bare name.
        QStringList nameFilters;
        QString defaultSuffix;
    };

    struct Alert
    {
        QString text;
        QString informativeText;
    };

    // Shows a save dialog and calls `completion` on `context`'s thread with the chosen path, or
    // with nothing when the user cancels. Nothing is called once `context` is gone.
    static void askForSavePath(const SaveRequest &request, QObject *context,
                               std::function<void(std::optional<QString>)> completion);

    // Shows a warning alert with an OK button, modal to the application, and returns at once.
    static void showAlert(const Alert &alert);

    // The system beep: a command has nothing to act on.
    static void beep();

    // Test answers. The next save dialog is answered with `path` (nothing: cancelled) instead of
    // being shown; the recorders receive every request, alert or beep instead of showing it.
    static void setNextSaveAnswer(std::optional<QString> path);
    static void setSaveRequestRecorder(std::function<void(const SaveRequest &)> recorder);
    static void setAlertRecorder(std::function<void(const Alert &)> recorder);
    static void setBeepRecorder(std::function<void()> recorder);
    // Forgets every answer and recorder: dialogs are shown again.
    static void resetTestAnswers();
};

} // namespace vyo
