#pragma once

// The save dialog, the folder chooser, alerts and the system beep. Nothing here blocks the
// application: the save dialog reports through a callback and alerts are shown application-modal
// without a nested event loop. Tests answer through a fake (platform/fake/FakeDialogs.h), so that
// no dialog ever waits for a person during a test.

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

    // What a dialog choosing folders asks for.
    struct FoldersRequest
    {
        QString title;
        // The confirm button's text.
        QString confirmText;
        // The folder the dialog starts in.
        QString directory;
    };

    struct Alert
    {
        QString text;
        QString informativeText;
    };

    virtual ~Dialogs() = default;

    // The path the user chooses in a save dialog: `completion` is called on `context`'s thread
    // with it, or with nothing when the user cancels; nothing is called once `context` is gone.
    virtual void askForSavePath(const SaveRequest &request, QObject *context,
                                std::function<void(std::optional<QString>)> completion) = 0;
    // The folders the user chooses (several at once, folders only): `completion` is called on
    // `context`'s thread with their paths, or with an empty list when the user cancels; nothing is
    // called once `context` is gone.
    virtual void askForFolders(const FoldersRequest &request, QObject *context,
                               std::function<void(QStringList)> completion) = 0;
    // Tells the user something went wrong: a warning with an OK button, modal to the application;
    // returns at once.
    virtual void showAlert(const Alert &alert) = 0;
    // Tells the user a command has nothing to act on: the system beep.
    virtual void beep() = 0;
};

} // namespace vyo
