#include "settings/WatchPane.h"

#include "settings/SettingsComponents.h"

#include "platform/Desktop.h"
#include "platform/Dialogs.h"
#include "platform/FileAttributes.h"
#include "watch/WatchCenter.h"

#include <QAction>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace vyo {

namespace {

// A folder's icon, name and path stacked beside it.
QWidget *folderLabel(const QString &path)
{
    auto *label = new QWidget;
    auto *icon = new QLabel(label);
    icon->setObjectName(QStringLiteral("folderIcon"));
    icon->setFixedSize(24, 24);
    const bool exists = isExistingFolder(path);
    const QIcon folderIcon = exists ? QFileIconProvider().icon(QFileInfo(path))
                                    : QFileIconProvider().icon(QFileIconProvider::Folder);
    icon->setPixmap(folderIcon.pixmap(24, 24, exists ? QIcon::Normal : QIcon::Disabled));
    QString name = QFileInfo(path).fileName();
    if (name.isEmpty())
        name = path;
    auto *title = new QLabel(name, label);
    title->setObjectName(QStringLiteral("folderName"));
    // A folder that is gone stays listed (it may come back, for instance on a disk plugged in
    // later); the row says so instead of showing a path that leads nowhere.
    QString detail = WatchPane::abbreviatedPath(path);
    if (!exists)
        detail += QStringLiteral(" · 폴더를 찾을 수 없어요");
    auto *pathLabel = new QLabel(detail, label);
    pathLabel->setObjectName(QStringLiteral("folderPath"));
    // A long path is cut at the row's edge (the whole of it in the tool tip) rather than
    // widening the pane beyond the window.
    pathLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pathLabel->setToolTip(WatchPane::abbreviatedPath(path));
    pathLabel->setForegroundRole(QPalette::PlaceholderText);
    QFont small = pathLabel->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    pathLabel->setFont(small);

    auto *text = new QVBoxLayout;
    text->setSpacing(1);
    text->addWidget(title);
    text->addWidget(pathLabel);
    auto *layout = new QHBoxLayout(label);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(icon);
    layout->addLayout(text, 1);
    return label;
}

} // namespace

WatchPane::WatchPane(QWidget *parent)
    : WatchPane(WatchCenter::shared(), parent)
{}

WatchPane::WatchPane(WatchCenter &center, QWidget *parent)
    : QWidget(parent)
    , m_center(center)
{
    setObjectName(QStringLiteral("watchPane"));
    auto *form = new SettingsForm(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form);

    m_folders = form->addSection(QStringLiteral("감시하는 폴더"));
    m_folders->setFooter(QStringLiteral(
        "폴더에 새 파일이 생기면 그 폴더 이름의 셸프가 알림 영역 아이콘 가까이에 열리고 파일이 "
        "담겨요. 받는 중인 파일과 숨김 파일은 담지 않아요. 빼려면 폴더를 오른쪽 클릭하세요."));
    m_folderRows = new QWidget;
    m_folderRows->setObjectName(QStringLiteral("watchedFolders"));
    new QVBoxLayout(m_folderRows);
    m_folderRows->layout()->setContentsMargins(0, 0, 0, 0);
    m_folders->addWidget(m_folderRows);
    SettingsSection *suggestions = form->addSection(QStringLiteral("추가"));
    m_suggestionRows = new QWidget;
    new QVBoxLayout(m_suggestionRows);
    m_suggestionRows->layout()->setContentsMargins(0, 0, 0, 0);
    suggestions->addWidget(m_suggestionRows);
    rebuild();
    connect(&m_center, &WatchCenter::foldersChanged, this, &WatchPane::rebuild);
}

QString WatchPane::abbreviatedPath(const QString &path)
{
    const QString home = QDir::homePath();
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + u'/'))
        return u'~' + path.mid(home.size());
    return path;
}

void WatchPane::rebuild()
{
    // Both sections are made again: the suggestions' buttons follow the list too.
    for (QWidget *container : {m_folderRows, m_suggestionRows})
        qDeleteAll(container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly));
    auto *rows = static_cast<QVBoxLayout *>(m_folderRows->layout());
    if (m_center.folders().isEmpty()) {
        auto *empty = new QLabel(QStringLiteral("감시하는 폴더가 없어요. 아래에서 추가해 보세요."));
        empty->setObjectName(QStringLiteral("noFoldersLabel"));
        empty->setForegroundRole(QPalette::PlaceholderText);
        rows->addWidget(empty);
    }
    for (const WatchedFolder &folder : m_center.folders()) {
        auto *toggle = new SwitchControl;
        toggle->setObjectName(QStringLiteral("folderSwitch"));
        toggle->setChecked(folder.isEnabled);
        const QUuid id = folder.id;
        // Queued: the change rebuilds the rows, this switch among them.
        connect(
            toggle, &QAbstractButton::toggled, this,
            [this, id](bool on) { m_center.setEnabled(on, id); }, Qt::QueuedConnection);
        auto *row = new SettingsRow(folderLabel(folder.path), toggle);
        row->setObjectName(QStringLiteral("folderRow"));
        row->setProperty("folderPath", folder.path);
        auto *remove = new QAction(QStringLiteral("목록에서 빼기"), row);
        remove->setObjectName(QStringLiteral("removeFolderAction"));
        connect(
            remove, &QAction::triggered, this, [this, id] { m_center.remove(id); },
            Qt::QueuedConnection);
        row->addAction(remove);
        row->setContextMenuPolicy(Qt::ActionsContextMenu);
        rows->addWidget(row);
    }

    auto *suggestions = static_cast<QVBoxLayout *>(m_suggestionRows->layout());
    const QList<WatchCenter::Suggestion> list = WatchCenter::suggestions();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const WatchCenter::Suggestion &suggestion = list.at(i);
        const bool watched = m_center.isWatched(suggestion.folder);
        auto *add = new QPushButton(watched ? QStringLiteral("추가됨") : QStringLiteral("추가"));
        add->setObjectName(QStringLiteral("suggestion%1Button").arg(i));
        const QUrl folder = suggestion.folder;
        connect(
            add, &QPushButton::clicked, this, [this, folder] { m_center.add(folder); },
            Qt::QueuedConnection);
        auto *label = new SettingLabel(
            suggestion.title, abbreviatedPath(suggestion.folder.toLocalFile()),
            i == 0 ? QStringLiteral("camera.viewfinder") : QStringLiteral("arrow.down.circle"),
            tintColor(Tint::orange));
        suggestions->addWidget(new SettingsRow(label, add));
    }
    auto *choose = new QPushButton(symbolIcon(QStringLiteral("folder.badge.plus")),
                                   QStringLiteral("다른 폴더 고르기…"));
    choose->setObjectName(QStringLiteral("chooseFoldersButton"));
    connect(choose, &QPushButton::clicked, this, &WatchPane::chooseFolders);
    suggestions->addWidget(choose, 0, Qt::AlignLeft);
}

void WatchPane::chooseFolders()
{
    Dialogs::FoldersRequest request;
    request.title = QStringLiteral("감시할 폴더 고르기");
    request.confirmText = QStringLiteral("감시하기");
    request.directory = QDir::homePath();
    Desktop::shared().dialogs().askForFolders(request, this, [this](const QStringList &paths) {
        for (const QString &path : paths)
            m_center.add(QUrl::fromLocalFile(path));
    });
}

} // namespace vyo
