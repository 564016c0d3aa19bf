#include "settings/LicensesSheet.h"

#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vyo {

QString LicensesSheet::readText(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("라이선스 정보를 찾을 수 없어요.");
    return QString::fromUtf8(file.readAll());
}

LicensesSheet::LicensesSheet(const QString &path, QWidget *parent)
    : QDialog(parent)
    , m_text(readText(path))
{
    setObjectName(QStringLiteral("licensesSheet"));
    setWindowTitle(QStringLiteral("오픈소스 라이선스"));
    setFixedSize(480, 560);
    auto *layout = new QVBoxLayout(this);
    auto *view = new QPlainTextEdit(m_text, this);
    view->setObjectName(QStringLiteral("licensesText"));
    view->setReadOnly(true);
    view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(QFont().pointSizeF() * 0.85);
    view->setFont(mono);
    layout->addWidget(view, 1);
    auto *close = new QPushButton(QStringLiteral("닫기"), this);
    close->setObjectName(QStringLiteral("closeButton"));
    close->setDefault(true);
    close->setAutoDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(close, 0, Qt::AlignRight);
}

} // namespace vyo
