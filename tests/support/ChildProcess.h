#pragma once

// Other programs in tests: the application itself or a helper started and watched through its
// output, and short tools (xdotool, xprop) run to their end. Every wait is bounded in time.

#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <optional>

namespace vyo::test {

// A program started by the test, its standard output and error collected together. It is
// stopped when it goes out of scope: SIGTERM first, SIGKILL after three seconds.
class ChildProcess
{
public:
    ChildProcess(const QString &program, const QStringList &arguments,
                 const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Waits until the output holds the text or matches the pattern; false when the time runs out
    // or the program ends first.
    bool waitForOutput(const QString &text, int milliseconds = 10000);
    bool waitForOutput(const QRegularExpression &pattern, int milliseconds = 10000);
    bool waitForExit(int milliseconds = 10000);

    // Writes to the program's standard input.
    void write(const QByteArray &bytes) { m_process.write(bytes); }

    // Everything the program has written so far.
    QString output();
    qint64 pid() const { return m_process.processId(); }
    int exitCode() const { return m_process.exitCode(); }
    QProcess::ExitStatus exitStatus() const { return m_process.exitStatus(); }
    // Sends a signal (SIGTERM, SIGKILL, …) to the running program.
    void signal(int number);

private:
    QProcess m_process;
    QString m_output;
};

// The environment for the application as a user would run it (not under the test harness), in
// user folders of its own below `root`: data, config, cache, runtime and home, made here.
// `platform` is the Qt platform plugin ("offscreen", "xcb"). Empty when the folders cannot be
// made.
QProcessEnvironment applicationEnvironment(const QString &root, const QString &platform);

// Runs a program to its end while this process's event loop keeps running, so that windows of
// the test answer the X server meanwhile. Its standard output; nothing when it cannot start,
// fails or is still running when the time is up (it is killed then).
std::optional<QString> runToEnd(const QString &program, const QStringList &arguments,
                                int milliseconds = 15000);

// xdotool with the arguments: whether it succeeded, or what it printed (empty on failure).
bool xdotool(const QStringList &arguments, int milliseconds = 15000);
QString xdotoolOutput(const QStringList &arguments, int milliseconds = 15000);

// How Shift is held during a drag gesture.
enum class DragShift { up, held, letGoMidway };

// xdotool arguments for a drag as a person makes it: a press at `from`, 16 steps 25 ms apart to
// `to`, and a release.
QStringList dragGesture(QPoint from, QPoint to, DragShift shift = DragShift::up);

} // namespace vyo::test
