#include "settings/ApplicationChooser.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vyo {

ApplicationChooser::ApplicationChooser(const QList<InstalledApplication> &applications,
                                       QWidget *parent)
    : QDialog(parent)
    , m_applications(applications)
    , m_list(new QListWidget(this))
    , m_add(new QPushButton(QStringLiteral("추가"), this))
{
    setObjectName(QStringLiteral("applicationChooser"));
    setWindowTitle(QStringLiteral("앱 추가"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(380, 460);

    m_list->setObjectName(QStringLiteral("applicationList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setIconSize(QSize(24, 24));
    for (const InstalledApplication &application : m_applications) {
        auto *item = new QListWidgetItem(applicationIcon(application), application.name, m_list);
        item->setToolTip(application.applicationID);
    }

    m_add->setObjectName(QStringLiteral("chooseApplicationsButton"));
    m_add->setDefault(true);
    m_add->setEnabled(false);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(m_add, QDialogButtonBox::AcceptRole);
    buttons->addButton(QStringLiteral("취소"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &ApplicationChooser::choose);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_list, &QListWidget::itemSelectionChanged, this,
            [this] { m_add->setEnabled(!m_list->selectedItems().isEmpty()); });
    connect(m_list, &QListWidget::itemDoubleClicked, this, &ApplicationChooser::choose);

    auto *layout = new QVBoxLayout(this);
    auto *prompt = new QLabel(QStringLiteral("흔들기를 무시할 앱을 고르세요."), this);
    layout->addWidget(prompt);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
}

void ApplicationChooser::choose()
{
    QStringList ids;
    for (int row = 0; row < m_list->count(); ++row) {
        if (m_list->item(row)->isSelected())
            ids.append(m_applications.at(row).applicationID);
    }
    if (ids.isEmpty())
        return;
    accept();
    Q_EMIT applicationsChosen(ids);
}

} // namespace vyo
