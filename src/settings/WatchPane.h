#pragma once

// The folder-watching pane of the settings window: the watched folders with a switch each (a
// right click offers "목록에서 빼기"), the suggestions (screenshot folder, Downloads) and
// "다른 폴더 고르기…". Every change goes straight to the watch center, which stores the list and
// hands it to its watcher at once.

#include <QWidget>

class QVBoxLayout;

namespace vyo {

class SettingsSection;
class WatchCenter;

class WatchPane : public QWidget
{
    Q_OBJECT
public:
    explicit WatchPane(WatchCenter &center, QWidget *parent = nullptr);
    explicit WatchPane(QWidget *parent = nullptr);

    // "~/Pictures" for a folder in the home folder; other paths as they are.
    static QString abbreviatedPath(const QString &path);

private:
    void rebuild();
    void chooseFolders();

    WatchCenter &m_center;
    SettingsSection *m_folders;
    QWidget *m_folderRows;
    QWidget *m_suggestionRows;
};

} // namespace vyo
