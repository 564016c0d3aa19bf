#pragma once

// The dialogs of a Linux desktop session, made with Qt Widgets: the toolkit's own save and folder
// dialogs (only they can show a line of explanation or choose several folders), a warning message
// box and the toolkit's beep.

#include "platform/Dialogs.h"

namespace vyo {

class WidgetDialogs final : public Dialogs
{
public:
    void askForSavePath(const SaveRequest &request, QObject *context,
                        std::function<void(std::optional<QString>)> completion) override;
    void askForFolders(const FoldersRequest &request, QObject *context,
                       std::function<void(QStringList)> completion) override;
    void showAlert(const Alert &alert) override;
    void beep() override;
};

} // namespace vyo
