#include "settings/UpdateWindow.h"

#include "platform/Desktop.h"
#include "platform/FileManager.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <memory>

namespace vyo {

namespace {

constexpr int windowWidth = 420;
constexpr int notesHeight = 200;

} // namespace

UpdateWindow::UpdateWindow(Updater &updater, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_updater(&updater)
{
    setObjectName(QStringLiteral("updateWindow"));
    setWindowTitle(QStringLiteral("Vyo 업데이트"));
    setFixedWidth(windowWidth);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("updateTitle"));
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.2);
    m_title->setFont(titleFont);
    m_title->setWordWrap(true);

    m_detail = new QLabel(this);
    m_detail->setObjectName(QStringLiteral("updateDetail"));
    m_detail->setWordWrap(true);
    // The apt command and the package's path can be copied.
    m_detail->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_notes = new QTextBrowser(this);
    m_notes->setObjectName(QStringLiteral("updateNotes"));
    m_notes->setFixedHeight(notesHeight);
    // Web links open in the user's browser, never inside the window; the notes come from the
    // feed, so links to local files or other schemes open nothing.
    m_notes->setOpenLinks(false);
    connect(m_notes, &QTextBrowser::anchorClicked, this, [](const QUrl &url) {
        if (url.scheme() == u"https" || url.scheme() == u"http")
            Desktop::shared().fileManager().open(url);
    });

    m_later = new QPushButton(QStringLiteral("나중에"), this);
    m_later->setObjectName(QStringLiteral("laterButton"));
    connect(m_later, &QPushButton::clicked, this, &QWidget::close);
    m_download = new QPushButton(QStringLiteral("내려받기"), this);
    m_download->setObjectName(QStringLiteral("downloadButton"));
    connect(m_download, &QPushButton::clicked, this, &UpdateWindow::download);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_later);
    buttons->addWidget(m_download);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(m_title);
    layout->addWidget(m_detail);
    layout->addWidget(m_notes);
    layout->addLayout(buttons);

    connect(&updater, &Updater::installFinished, this, &UpdateWindow::installFinished);
}

UpdateWindow::~UpdateWindow() = default;

void UpdateWindow::follow(Updater &updater)
{
    const auto window = std::make_shared<QPointer<UpdateWindow>>();
    const auto windowFor = [window, updater = &updater]() -> UpdateWindow * {
        if (!*window) {
            *window = new UpdateWindow(*updater);
            (*window)->setAttribute(Qt::WA_DeleteOnClose);
            connect(qApp, &QCoreApplication::aboutToQuit, window->data(), &QObject::deleteLater);
            // The window goes with its updater.
            connect(updater, &QObject::destroyed, window->data(), &QObject::deleteLater);
        }
        return *window;
    };
    connect(&updater, &Updater::updateFound, &updater,
            [windowFor](const UpdateItem &item, bool) { windowFor()->showUpdate(item); });
    connect(&updater, &Updater::upToDate, &updater, [windowFor] { windowFor()->showUpToDate(); });
    connect(&updater, &Updater::checkFailed, &updater,
            [windowFor](const QString &message) { windowFor()->showFailure(message); });
}

void UpdateWindow::showUpToDate()
{
    m_notes->clear();
    present(QStringLiteral("최신 버전을 쓰고 있어요."),
            QStringLiteral("Vyo ") + (m_updater ? m_updater->currentVersion() : QString()), false);
}

void UpdateWindow::showUpdate(const UpdateItem &item)
{
    m_item = item;
    if (!item.description.trimmed().isEmpty())
        m_notes->setHtml(item.description);
    else if (item.releaseNotesLink.isValid())
        m_notes->setHtml(QStringLiteral("<a href=\"") +
                         item.releaseNotesLink.toString(QUrl::FullyEncoded).toHtmlEscaped() +
                         QStringLiteral("\">릴리스 노트</a>"));
    else
        m_notes->clear();
    present(QStringLiteral("새 버전 Vyo ") + item.displayVersion,
            QStringLiteral("지금 쓰는 버전: ") +
                (m_updater ? m_updater->currentVersion() : QString()),
            true);
    // The user is looking at the update now.
    if (m_updater)
        m_updater->userDidAttend();
}

void UpdateWindow::showFailure(const QString &message)
{
    m_notes->clear();
    present(QStringLiteral("업데이트를 확인하지 못했어요."), message, false);
}

void UpdateWindow::present(const QString &title, const QString &detail, bool offersDownload)
{
    m_title->setText(title);
    m_detail->setText(detail);
    m_notes->setVisible(!m_notes->document()->isEmpty());
    m_download->setVisible(offersDownload);
    m_download->setEnabled(true);
    m_later->setEnabled(true);
    m_later->setText(offersDownload ? QStringLiteral("나중에") : QStringLiteral("닫기"));
    (offersDownload ? m_download : m_later)->setDefault(true);
    adjustSize();
    show();
    raise();
    activateWindow();
}

void UpdateWindow::download()
{
    if (!m_updater || !m_updater->canCheckForUpdates())
        return;
    m_download->setEnabled(false);
    m_detail->setText(QStringLiteral("내려받는 중…"));
    m_updater->install(m_item);
}

void UpdateWindow::installFinished(Updater::InstallOutcome outcome, const QString &detail)
{
    if (!isVisible())
        return;
    switch (outcome) {
    case Updater::InstallOutcome::openedReleasePage:
        close();
        return;
    case Updater::InstallOutcome::openedInstaller:
        present(QStringLiteral("설치 프로그램을 열었어요."), detail, false);
        return;
    case Updater::InstallOutcome::needsCommand:
        present(QStringLiteral("내려받았어요. 터미널에서 설치하세요."), detail, false);
        return;
    case Updater::InstallOutcome::failed:
        present(QStringLiteral("설치하지 못했어요."), detail, false);
        return;
    }
}

void UpdateWindow::closeEvent(QCloseEvent *event)
{
    // The update session ends with its window.
    if (m_updater)
        m_updater->finishSession();
    QWidget::closeEvent(event);
}

} // namespace vyo
