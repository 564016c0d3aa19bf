#include "ChildProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>

#include <csignal>

namespace vyo::test {

ChildProcess::ChildProcess(const QString &program, const QStringList &arguments,
                           const QProcessEnvironment &environment)
{
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(program, arguments);
}

ChildProcess::~ChildProcess()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000)) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool ChildProcess::waitForOutput(const QString &text, int milliseconds)
{
    return waitForOutput(QRegularExpression(QRegularExpression::escape(text)), milliseconds);
}

bool ChildProcess::waitForOutput(const QRegularExpression &pattern, int milliseconds)
{
    const QDeadlineTimer deadline(milliseconds);
    while (!output().contains(pattern)) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning)
            return output().contains(pattern);
        m_process.waitForReadyRead(20);
    }
    return true;
}

bool ChildProcess::waitForExit(int milliseconds)
{
    // A process that has already ended is not waited for: QProcess answers false for it.
    const bool ended =
        m_process.state() == QProcess::NotRunning && m_process.error() != QProcess::FailedToStart;
    const bool finished = ended || m_process.waitForFinished(milliseconds);
    output();
    return finished;
}

QString ChildProcess::output()
{
    m_output += QString::fromUtf8(m_process.readAll());
    return m_output;
}

void ChildProcess::signal(int number)
{
    if (m_process.state() != QProcess::NotRunning)
        ::kill(pid_t(m_process.processId()), number);
}

QProcessEnvironment applicationEnvironment(const QString &root, const QString &platform)
{
    const QDir dir(root);
    for (const char *folder : {"data", "config", "cache", "runtime", "home"}) {
        if (!dir.mkpath(QString::fromLatin1(folder)))
            return {};
    }
    QFile::setPermissions(dir.filePath(u"runtime"_qs),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"VYO_TEST_HARNESS"_qs);
    environment.remove(u"WAYLAND_DISPLAY"_qs);
    environment.remove(u"XDG_SESSION_TYPE"_qs);
    environment.insert(u"XDG_DATA_HOME"_qs, dir.filePath(u"data"_qs));
    environment.insert(u"XDG_CONFIG_HOME"_qs, dir.filePath(u"config"_qs));
    environment.insert(u"XDG_CACHE_HOME"_qs, dir.filePath(u"cache"_qs));
    environment.insert(u"XDG_RUNTIME_DIR"_qs, dir.filePath(u"runtime"_qs));
    environment.insert(u"HOME"_qs, dir.filePath(u"home"_qs));
    environment.insert(u"QT_QPA_PLATFORM"_qs, platform);
    return environment;
}

std::optional<QString> runToEnd(const QString &program, const QStringList &arguments,
                                int milliseconds)
{
    QProcess process;
    process.start(program, arguments);
    const QDeadlineTimer deadline(milliseconds);
    // Short waits that end the moment the program does, with this process's events in between.
    while (!process.waitForFinished(5) && process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            process.kill();
            process.waitForFinished(3000);
            return std::nullopt;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

bool xdotool(const QStringList &arguments, int milliseconds)
{
    return runToEnd(QStringLiteral("xdotool"), arguments, milliseconds).has_value();
}

QString xdotoolOutput(const QStringList &arguments, int milliseconds)
{
    return runToEnd(QStringLiteral("xdotool"), arguments, milliseconds).value_or(QString());
}

QStringList dragGesture(QPoint from, QPoint to, DragShift shift)
{
    QStringList arguments;
    if (shift != DragShift::up)
        arguments << "keydown"
                  << "shift";
    arguments << "mousemove" << QString::number(from.x()) << QString::number(from.y())
              << "mousedown"
              << "1"
              << "sleep"
              << "0.15";
    const int steps = 16;
    for (int i = 1; i <= steps; ++i) {
        const QPoint p = from + (to - from) * i / steps;
        arguments << "mousemove" << QString::number(p.x()) << QString::number(p.y()) << "sleep"
                  << "0.025";
        if (shift == DragShift::letGoMidway && i == steps / 2)
            arguments << "keyup"
                      << "shift";
    }
    arguments << "sleep"
              << "0.2"
              << "mouseup"
              << "1";
    if (shift == DragShift::held)
        arguments << "keyup"
                  << "shift";
    return arguments;
}

} // namespace vyo::test
