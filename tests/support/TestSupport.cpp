#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>

namespace vyo::test {

namespace {

QMutex mutex;
QStringList recorded;
QtMessageHandler previous = nullptr;

void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&mutex);
        recorded.append(message);
    }
    if (previous)
        previous(type, context, message);
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    previous = qInstallMessageHandler(record);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previous);
}

const QStringList &LogCapture::messages() const
{
    return recorded;
}

bool LogCapture::contains(const QString &text) const
{
    QMutexLocker lock(&mutex);
    return std::any_of(recorded.begin(), recorded.end(),
                       [&text](const QString &message) { return message.contains(text); });
}

void LogCapture::clear()
{
    QMutexLocker lock(&mutex);
    recorded.clear();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace vyo::test
