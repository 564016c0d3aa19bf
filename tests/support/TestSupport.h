#pragma once

// Helpers shared by the tests: capturing log lines and making files in temporary folders.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtMessageHandler>

class QAction;
class QMenu;

namespace vyo::test {

// Records every message logged while it lives (and still prints them).
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    const QStringList &messages() const;
    // True when a recorded message contains the text.
    bool contains(const QString &text) const;
    void clear();
};

// Writes `bytes` to `path`, creating folders; fails the test on error.
bool writeFile(const QString &path, const QByteArray &bytes);
// The file's bytes; empty when it cannot be read.
QByteArray readFile(const QString &path);
// `size` bytes of noise, the same for the same seed.
QByteArray randomBytes(qsizetype size, quint32 seed);

// The entries of a menu by title, separators as "—".
QStringList menuTitles(const QMenu *menu);
// The first entry of a menu with this title; null when there is none.
QAction *menuEntry(const QMenu *menu, const QString &title);

} // namespace vyo::test
