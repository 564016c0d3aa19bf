#include "platform/linux/WidgetDialogs.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

#include <memory>
#include <utility>

namespace vyo {

namespace {

// The toolkit's own dialog rather than the desktop's: only it can show the explanation line.
QFileDialog *makeSaveDialog(const Dialogs::SaveRequest &request)
{
    auto *dialog = new QFileDialog(nullptr, request.title, request.directory);
    dialog->setObjectName(QStringLiteral("saveDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    if (!request.nameFilters.isEmpty())
        dialog->setNameFilters(request.nameFilters);
    dialog->setDefaultSuffix(request.defaultSuffix);
    dialog->selectFile(request.suggestedName);
    dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("위치:"));
    dialog->setLabelText(QFileDialog::FileName, QStringLiteral("파일 이름:"));
    dialog->setLabelText(QFileDialog::FileType, QStringLiteral("파일 형식:"));
    dialog->setLabelText(QFileDialog::Accept, request.confirmText);
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("취소"));
    if (!request.message.isEmpty()) {
        if (auto *grid = qobject_cast<QGridLayout *>(dialog->layout())) {
            auto *label = new QLabel(request.message, dialog);
            label->setObjectName(QStringLiteral("saveMessage"));
            label->setWordWrap(true);
            grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    return dialog;
}

} // namespace

void WidgetDialogs::askForSavePath(const SaveRequest &request, QObject *context,
                                   std::function<void(std::optional<QString>)> completion)
{
    QFileDialog *dialog = makeSaveDialog(request);
    auto done =
        std::make_shared<std::function<void(std::optional<QString>)>>(std::move(completion));
    QObject::connect(dialog, &QFileDialog::fileSelected, context, [done](const QString &path) {
        if (auto call = std::exchange(*done, nullptr))
            call(path);
    });
    QObject::connect(dialog, &QDialog::rejected, context, [done] {
        if (auto call = std::exchange(*done, nullptr))
            call(std::nullopt);
    });
    dialog->open();
    // A tray application has no window of its own in front: bring the dialog there.
    dialog->raise();
    dialog->activateWindow();
}

void WidgetDialogs::askForFolders(const FoldersRequest &request, QObject *context,
                                  std::function<void(QStringList)> completion)
{
    auto *dialog = new QFileDialog(nullptr, request.title, request.directory);
    dialog->setObjectName(QStringLiteral("foldersDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    // The toolkit's own dialog: the desktop's may not choose several folders at once.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    for (auto *view : dialog->findChildren<QAbstractItemView *>(QStringLiteral("listView")))
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    for (auto *view : dialog->findChildren<QAbstractItemView *>(QStringLiteral("treeView")))
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    dialog->setLabelText(QFileDialog::LookIn, QStringLiteral("위치:"));
    dialog->setLabelText(QFileDialog::FileName, QStringLiteral("폴더:"));
    dialog->setLabelText(QFileDialog::Accept, request.confirmText);
    dialog->setLabelText(QFileDialog::Reject, QStringLiteral("취소"));
    auto done = std::make_shared<std::function<void(QStringList)>>(std::move(completion));
    QObject::connect(dialog, &QFileDialog::filesSelected, context,
                     [done](const QStringList &paths) {
                         if (auto call = std::exchange(*done, nullptr))
                             call(paths);
                     });
    QObject::connect(dialog, &QDialog::rejected, context, [done] {
        if (auto call = std::exchange(*done, nullptr))
            call({});
    });
    dialog->open();
    dialog->raise();
    dialog->activateWindow();
}

void WidgetDialogs::showAlert(const Alert &alert)
{
    auto *box = new QMessageBox(QMessageBox::Warning, QString(), alert.text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("alert"));
    box->setInformativeText(alert.informativeText);
    box->button(QMessageBox::Ok)->setText(QStringLiteral("확인"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    box->raise();
    box->activateWindow();
}

void WidgetDialogs::beep()
{
    QApplication::beep();
}

} // namespace vyo
