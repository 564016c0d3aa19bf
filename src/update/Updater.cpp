#include "update/Updater.h"

#include "core/Defaults.h"
#include "core/Log.h"
#include "platform/Desktop.h"
#include "platform/FileManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>

namespace vyo {

namespace {

// Why a reply was cut off by Vyo rather than by the network.
constexpr auto failureProperty = "vyoFailure";
// dpkg's list of an installed package's files is a few kilobytes; more is not one.
constexpr qint64 maxPackageListBytes = 4 * 1024 * 1024;
constexpr int maxRedirects = 5;
constexpr int maxNameAttempts = 100;
constexpr qint64 maxTimerMilliseconds = 60 * 60 * 1000;

#ifndef VYO_UPDATE_FEED_URL
#define VYO_UPDATE_FEED_URL ""
#endif
#ifndef VYO_UPDATE_PUBLIC_KEY
#define VYO_UPDATE_PUBLIC_KEY ""
#endif
#ifndef VYO_VERSION
#define VYO_VERSION "0"
#endif

QString failureOf(QNetworkReply *reply)
{
    const QString failure = reply->property(failureProperty).toString();
    if (!failure.isEmpty())
        return failure;
    if (reply->error() == QNetworkReply::OperationCanceledError ||
        reply->error() == QNetworkReply::TimeoutError)
        return QStringLiteral("서버가 제때 응답하지 않음");
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 400)
        return formatMessage(u"서버가 HTTP %d로 응답함", status);
    if (reply->error() == QNetworkReply::RemoteHostClosedError)
        return QStringLiteral("받는 도중 연결이 끊김");
    if (reply->error() != QNetworkReply::NoError)
        return QStringLiteral("서버에 연결하지 못함: ") + reply->errorString();
    return {};
}

// A safe file name for the package in the downloads folder: the address's last part when it is a
// plain .deb name, else one made from the version.
QString packageFileName(const UpdateItem &item)
{
    static const QRegularExpression plainName(
        QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._+~-]*\\.deb$"));
    const QString name = QFileInfo(item.downloadUrl.path()).fileName();
    if (plainName.match(name).hasMatch() && name.size() <= 200)
        return name;
    return QStringLiteral("vyo_") + item.version + QStringLiteral(".deb");
}

// `name` in `folder`, numbered when a file of that name is there already: a download never
// replaces a file.
std::optional<QString> unusedPath(const QString &folder, const QString &name)
{
    const QFileInfo info(name);
    for (int attempt = 0; attempt < maxNameAttempts; ++attempt) {
        const QString candidate = attempt == 0 ? name
                                               : info.completeBaseName() + QStringLiteral("-") +
                                                     QString::number(attempt) +
                                                     QStringLiteral(".") + info.suffix();
        const QString path = QDir(folder).filePath(candidate);
        if (!QFileInfo::exists(path))
            return path;
    }
    return std::nullopt;
}

} // namespace

Updater::Configuration Updater::Configuration::builtIn()
{
    Configuration configuration;
    configuration.feedUrl = QUrl(QStringLiteral(VYO_UPDATE_FEED_URL));
    configuration.publicKey = QStringLiteral(VYO_UPDATE_PUBLIC_KEY);
    configuration.currentVersion = QStringLiteral(VYO_VERSION);
    configuration.executablePath = QCoreApplication::applicationFilePath();
    configuration.downloadFolder =
        QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (configuration.downloadFolder.isEmpty())
        configuration.downloadFolder = QDir::homePath();
    return configuration;
}

Updater &Updater::shared()
{
    static Updater *updater = new Updater(Configuration::builtIn(), Defaults::shared());
    return *updater;
}

Updater::Updater(Configuration configuration, Defaults &defaults, QObject *parent)
    : QObject(parent)
    , now([] { return QDateTime::currentDateTimeUtc(); })
    , isInFocus([] { return QGuiApplication::focusWindow() != nullptr; })
    , m_configuration(std::move(configuration))
    , m_defaults(defaults)
{}

Updater::~Updater() = default;

void Updater::start()
{
    if (m_started || m_configuration.feedUrl.isEmpty())
        return;
    if (!isAllowedUpdateAddress(m_configuration.feedUrl) || m_configuration.publicKey.isEmpty()) {
        vyoError(lcApp, u"업데이트 실패: %{public}s",
                 QStringLiteral("업데이트 주소나 공개 키가 올바르지 않음"));
        return;
    }
    m_network = new QNetworkAccessManager(this);
    m_schedule = new QTimer(this);
    m_schedule->setSingleShot(true);
    connect(m_schedule, &QTimer::timeout, this, [this] {
        if (now() >= m_schedule->property("due").toDateTime())
            runCheck(false);
        else
            scheduleNextCheck();
    });
    m_started = true;
    scheduleNextCheck();
    Q_EMIT started();
    Q_EMIT canCheckForUpdatesChanged();
    Q_EMIT automaticallyChecksForUpdatesChanged();
}

void Updater::checkForUpdates()
{
    if (canCheckForUpdates())
        runCheck(true);
}

bool Updater::canCheckForUpdates() const
{
    return m_started && !m_busy;
}

bool Updater::automaticallyChecksForUpdates() const
{
    if (!m_started)
        return false;
    return !m_defaults.contains(QLatin1String(DefaultsKey::automaticallyChecksForUpdates)) ||
           m_defaults.boolValue(QLatin1String(DefaultsKey::automaticallyChecksForUpdates));
}

void Updater::setAutomaticallyChecksForUpdates(bool on)
{
    if (!m_started || on == automaticallyChecksForUpdates())
        return;
    m_defaults.setValue(QLatin1String(DefaultsKey::automaticallyChecksForUpdates), on);
    scheduleNextCheck();
    Q_EMIT automaticallyChecksForUpdatesChanged();
}

void Updater::userDidAttend()
{
    setPendingVersion(std::nullopt);
}

void Updater::finishSession()
{
    setPendingVersion(std::nullopt);
}

QDateTime Updater::nextScheduledCheck() const
{
    if (!m_schedule || !m_schedule->isActive())
        return {};
    return m_schedule->property("due").toDateTime();
}

std::optional<QDateTime> Updater::lastCheck() const
{
    const QDateTime last = QDateTime::fromString(
        m_defaults.value(QLatin1String(DefaultsKey::lastUpdateCheck)).toString(),
        Qt::ISODateWithMs);
    if (!last.isValid())
        return std::nullopt;
    return last;
}

void Updater::scheduleNextCheck()
{
    m_schedule->stop();
    if (!automaticallyChecksForUpdates())
        return;
    const QDateTime current = now();
    const QDateTime due = m_configuration.schedule.nextCheck(lastCheck(), current);
    m_schedule->setProperty("due", due);
    // The timer's clock stands still while the computer sleeps: the wall clock is looked at again
    // at least every hour, so that a check due during a sleep runs soon after waking.
    m_schedule->start(int(std::clamp<qint64>(current.msecsTo(due), 0, maxTimerMilliseconds)));
}

void Updater::runCheck(bool userInitiated)
{
    if (m_busy) {
        // The check that runs reschedules when it ends.
        return;
    }
    setBusy(true);
    QNetworkReply *reply = get(m_configuration.feedUrl, UpdateFeed::maxFeedBytes);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, userInitiated] { feedArrived(reply, userInitiated); });
}

QNetworkReply *Updater::get(const QUrl &url, qint64 maxBytes)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(maxRedirects);
    request.setTransferTimeout(int(m_configuration.timeout.count()));
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QString(QStringLiteral("Vyo/") + m_configuration.currentVersion));
    QNetworkReply *reply = m_network->get(request);
    const auto refuse = [reply](const QString &failure) {
        reply->setProperty(failureProperty, failure);
        reply->abort();
    };
    connect(reply, &QNetworkReply::redirected, reply, [reply, refuse](const QUrl &target) {
        if (isAllowedUpdateAddress(target))
            Q_EMIT reply->redirectAllowed();
        else
            refuse(QStringLiteral("안전하지 않은 주소로 넘겨짐: ") + target.toString());
    });
    const auto checkSize = [reply, refuse, maxBytes] {
        const QVariant declared = reply->header(QNetworkRequest::ContentLengthHeader);
        if ((declared.isValid() && declared.toLongLong() > maxBytes) ||
            reply->bytesAvailable() > maxBytes)
            refuse(QStringLiteral("받은 내용이 허용된 크기보다 큼"));
    };
    connect(reply, &QNetworkReply::metaDataChanged, reply, checkSize);
    connect(reply, &QNetworkReply::readyRead, reply, checkSize);
    return reply;
}

void Updater::feedArrived(QNetworkReply *reply, bool userInitiated)
{
    reply->deleteLater();
    const QString failure = failureOf(reply);
    if (!failure.isEmpty()) {
        checkEnded(userInitiated, std::nullopt, failure);
        return;
    }
    const UpdateFeed::Parsed feed = UpdateFeed::parse(reply->readAll());
    if (feed.error) {
        checkEnded(userInitiated, std::nullopt, UpdateFeed::message(*feed.error));
        return;
    }
    checkEnded(userInitiated, UpdateFeed::newestAfter(feed.items, m_configuration.currentVersion),
               {});
}

void Updater::checkEnded(bool userInitiated, const std::optional<UpdateItem> &found,
                         const QString &failure)
{
    m_defaults.setValue(QLatin1String(DefaultsKey::lastUpdateCheck),
                        now().toString(Qt::ISODateWithMs));
    setBusy(false);
    scheduleNextCheck();
    if (!failure.isEmpty()) {
        vyoError(lcApp, u"업데이트 실패: %{public}s", failure);
        if (userInitiated)
            Q_EMIT checkFailed(failure);
        return;
    }
    if (!found) {
        // Nothing newer is no news: not logged.
        if (userInitiated)
            Q_EMIT upToDate();
        return;
    }
    // A scheduled check shows its update only while the user is in Vyo; otherwise it waits
    // quietly in the tray menu.
    if (!userInitiated && !(isInFocus && isInFocus())) {
        setPendingVersion(found->displayVersion);
        vyoInfo(lcApp, u"새 버전 %{public}s 대기 중", found->displayVersion);
        return;
    }
    Q_EMIT updateFound(*found, userInitiated);
}

void Updater::setPendingVersion(const std::optional<QString> &version)
{
    if (version == m_pendingVersion)
        return;
    m_pendingVersion = version;
    Q_EMIT pendingVersionChanged();
}

void Updater::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    m_busy = busy;
    Q_EMIT canCheckForUpdatesChanged();
}

bool Updater::isPackageInstall() const
{
    QFile list(QDir(m_configuration.dpkgInfoFolder)
                   .filePath(m_configuration.packageName + QStringLiteral(".list")));
    if (m_configuration.executablePath.isEmpty() || !list.open(QIODevice::ReadOnly))
        return false;
    const QString canonical = QFileInfo(m_configuration.executablePath).canonicalFilePath();
    const QList<QByteArray> lines = list.read(maxPackageListBytes).split('\n');
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QByteArray &line) {
        const QString path = QString::fromUtf8(line);
        return path == m_configuration.executablePath ||
               (!canonical.isEmpty() && path == canonical);
    });
}

QString Updater::installCommand(const QString &packagePath)
{
    QString quoted = packagePath;
    quoted.replace(QStringLiteral("'"), QStringLiteral("'\\''"));
    return QStringLiteral("sudo apt install '") + quoted + QStringLiteral("'");
}

void Updater::install(const UpdateItem &item)
{
    if (!m_started || m_busy)
        return;
    // Files of a package-managed installation are never replaced by hand: a build from source
    // gets the release page, a package install the system's installer.
    if (!isPackageInstall()) {
        const QUrl page = item.releasePage.isValid() ? item.releasePage : item.releaseNotesLink;
        if (!page.isValid() || !(page.scheme() == u"https" || page.scheme() == u"http")) {
            finishInstall(InstallOutcome::failed, QStringLiteral("릴리스 페이지 주소가 없음"));
            return;
        }
        Desktop::shared().fileManager().open(page);
        finishInstall(InstallOutcome::openedReleasePage, page.toString());
        return;
    }
    if (!isAllowedUpdateAddress(item.downloadUrl)) {
        finishInstall(InstallOutcome::failed, QStringLiteral("안전하지 않은 설치 파일 주소: ") +
                                                  item.downloadUrl.toString());
        return;
    }
    if (item.length <= 0 || item.length > m_configuration.maxDownloadBytes) {
        finishInstall(InstallOutcome::failed, QStringLiteral("받은 내용이 허용된 크기보다 큼"));
        return;
    }
    setBusy(true);
    QNetworkReply *reply = get(item.downloadUrl, item.length);
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, item] { packageArrived(reply, item); });
}

void Updater::packageArrived(QNetworkReply *reply, const UpdateItem &item)
{
    reply->deleteLater();
    setBusy(false);
    const QString failure = failureOf(reply);
    if (!failure.isEmpty()) {
        finishInstall(InstallOutcome::failed, failure);
        return;
    }
    const QByteArray package = reply->readAll();
    if (package.size() != item.length) {
        finishInstall(InstallOutcome::failed,
                      formatMessage(u"설치 파일의 길이가 맞지 않음(%ld/%ld 바이트)",
                                    qint64(package.size()), item.length));
        return;
    }
    if (!verifyEd25519(package, item.edSignature, m_configuration.publicKey)) {
        finishInstall(InstallOutcome::failed, QStringLiteral("설치 파일의 서명이 맞지 않음"));
        return;
    }
    QDir().mkpath(m_configuration.downloadFolder);
    const std::optional<QString> path =
        unusedPath(m_configuration.downloadFolder, packageFileName(item));
    QSaveFile file(path.value_or(QString()));
    if (!path || !file.open(QIODevice::WriteOnly) || file.write(package) != package.size() ||
        !file.commit()) {
        finishInstall(InstallOutcome::failed,
                      QStringLiteral("설치 파일을 저장하지 못함: ") + file.errorString());
        return;
    }
    if (Desktop::shared().fileManager().open(QUrl::fromLocalFile(*path)))
        finishInstall(InstallOutcome::openedInstaller, *path);
    else
        finishInstall(InstallOutcome::needsCommand, installCommand(*path));
}

void Updater::finishInstall(InstallOutcome outcome, const QString &detail)
{
    if (outcome == InstallOutcome::failed)
        vyoError(lcApp, u"업데이트 실패: %{public}s", detail);
    else
        vyoInfo(lcApp, u"새 버전 설치 준비: %{public}s", detail);
    Q_EMIT installFinished(outcome, detail);
}

} // namespace vyo
