#pragma once

// Vyo's own updater: the one object through which Vyo looks for new versions of itself. It reads
// the update feed fixed at build time, checks on a 24-hour schedule and when the user asks, and
// installs a signed package the way Vyo was installed (the system's package installer for a
// Debian package, the release page for a build from source).
//
// Scheduled checks never interrupt: when no Vyo window has the focus, a newer version is only
// published as `pendingVersion`, which the tray menu shows as a quiet entry. A check the user
// started always reports its answer (`updateFound`, `upToDate`, `checkFailed`), which the update
// window shows. Failures are logged; the schedule carries on.
//
// Until start() and without a feed address there is no updater: every operation is a no-op, and
// `automaticallyChecksForUpdates` and `canCheckForUpdates` read false.

#include "logic/UpdateFeed.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace vyo {

class Defaults;

class Updater : public QObject
{
    Q_OBJECT
    // Empty while no version is pending.
    Q_PROPERTY(QString pendingVersion READ pendingVersionText NOTIFY pendingVersionChanged)
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool isStarted READ isStarted NOTIFY started)
public:
    struct Configuration
    {
        // The feed's address; empty: no updater.
        QUrl feedUrl;
        // The Ed25519 public key of the releases, base64 of its 32 raw bytes.
        QString publicKey;
        // The running version, compared with the feed's.
        QString currentVersion;
        UpdateSchedule schedule;
        // A transfer that receives nothing for this long fails.
        std::chrono::milliseconds timeout = std::chrono::seconds(30);
        qint64 maxDownloadBytes = 256LL * 1024 * 1024;
        // How Vyo was installed: a Debian package when dpkg's list of `packageName` (in
        // `dpkgInfoFolder`) names the executable.
        QString executablePath;
        QString dpkgInfoFolder = QStringLiteral("/var/lib/dpkg/info");
        QString packageName = QStringLiteral("vyo");
        // Where packages are downloaded to.
        QString downloadFolder;

        // The values this build was made with (the feed address and key given at configure time).
        static Configuration builtIn();
    };

    // How an installation ended; `detail` of installFinished says more.
    enum class InstallOutcome {
        openedInstaller,   // the package was downloaded, verified and handed to the installer
        needsCommand,      // downloaded and verified; no installer opened: run the command
        openedReleasePage, // a build from source: the release page was opened
        failed,            // nothing installed; detail is the reason
    };
    Q_ENUM(InstallOutcome)

    // The process-wide updater with the built-in configuration and the user's settings.
    static Updater &shared();

    Updater(Configuration configuration, Defaults &defaults, QObject *parent = nullptr);
    ~Updater() override;

    // Makes the updater (once): from now on checks run, the first one shortly after launch
    // unless the last check, remembered across restarts, was less than a day ago. Does nothing
    // without a feed address.
    void start();
    bool isStarted() const { return m_started; }

    // A check the user asked for; its answer is always reported. Nothing before start().
    void checkForUpdates();
    // Whether a check may start now: started and no check or download running.
    bool canCheckForUpdates() const;

    // Stored in Vyo's settings, on by default; false and not writable before start().
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);

    // The version a scheduled check found while the user worked elsewhere, until the user looks
    // at it or the update session ends.
    std::optional<QString> pendingVersion() const { return m_pendingVersion; }
    QString pendingVersionText() const { return m_pendingVersion.value_or(QString()); }
    // The user has seen the update (its window is showing).
    void userDidAttend();
    // The update's window closed: the update session is over.
    void finishSession();

    // Downloads, verifies and hands over `item` as this installation allows (see InstallOutcome).
    void install(const UpdateItem &item);
    // The running version.
    QString currentVersion() const { return m_configuration.currentVersion; }
    // Whether Vyo was installed from a Debian package.
    bool isPackageInstall() const;
    // The command that installs a downloaded package by hand.
    static QString installCommand(const QString &packagePath);

    // When the next scheduled check runs; invalid while none is scheduled.
    QDateTime nextScheduledCheck() const;

    // The clock of the schedule.
    std::function<QDateTime()> now;
    // Whether one of Vyo's windows has the focus; a scheduled check then shows its update.
    std::function<bool()> isInFocus;

Q_SIGNALS:
    void started();
    void pendingVersionChanged();
    void canCheckForUpdatesChanged();
    void automaticallyChecksForUpdatesChanged();
    // An update to show: found by the user's check, or by a scheduled check while Vyo has the
    // focus.
    void updateFound(const vyo::UpdateItem &item, bool userInitiated);
    // The user's check found nothing newer.
    void upToDate();
    // The user's check failed; the message says why.
    void checkFailed(const QString &message);
    void installFinished(vyo::Updater::InstallOutcome outcome, const QString &detail);

private:
    void runCheck(bool userInitiated);
    void feedArrived(QNetworkReply *reply, bool userInitiated);
    void checkEnded(bool userInitiated, const std::optional<UpdateItem> &found,
                    const QString &failure);
    void scheduleNextCheck();
    void setPendingVersion(const std::optional<QString> &version);
    void setBusy(bool busy);
    void packageArrived(QNetworkReply *reply, const UpdateItem &item);
    void finishInstall(InstallOutcome outcome, const QString &detail);
    // A GET of `url` whose redirects stay on allowed addresses and whose body is capped at
    // `maxBytes` (the reply fails with the message set as its "vyoFailure" property).
    QNetworkReply *get(const QUrl &url, qint64 maxBytes);
    std::optional<QDateTime> lastCheck() const;

    const Configuration m_configuration;
    Defaults &m_defaults;
    QNetworkAccessManager *m_network = nullptr;
    QTimer *m_schedule = nullptr;
    std::optional<QString> m_pendingVersion;
    bool m_started = false;
    bool m_busy = false;
};

} // namespace vyo
