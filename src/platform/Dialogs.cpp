#include "platform/Dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

#include <memory>
#include <utility>

namespace vyo {

namespace {

// Test answers; touched only on the main thread.
struct TestAnswers
{
    bool hasSaveAnswer = false;
    std::optional<QString> saveAnswer;
    std::function<void(const Dialogs::SaveRequest &)> saveRecorder;
    std::function<void(const Dialogs::Alert &)> alertRecorder;
    std::function<void()> beepRecorder;
};

TestAnswers &answers()
{
    static TestAnswers instance;
    return instance;
}

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

void Dialogs::askForSavePath(const SaveRequest &request, QObject *context,
                             std::function<void(std::optional<QString>)> completion)
{
    TestAnswers &test = answers();
    if (test.saveRecorder)
        test.saveRecorder(request);
    if (test.hasSaveAnswer) {
        std::optional<QString> answer = std::exchange(test.saveAnswer, std::nullopt);
        test.hasSaveAnswer = false;
        // Answered later, as a dialog would be.
        QMetaObject::invokeMethod(
            context, [completion = std::move(completion), answer] { completion(answer); },
            Qt::QueuedConnection);
        return;
    }

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

void Dialogs::showAlert(const Alert &alert)
{
    if (answers().alertRecorder) {
        answers().alertRecorder(alert);
        return;
    }
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

void Dialogs::beep()
{
    if (answers().beepRecorder) {
        answers().beepRecorder();
        return;
    }
    QApplication::beep();
}

void Dialogs::setNextSaveAnswer(std::optional<QString> path)
{
    answers().hasSaveAnswer = true;
    answers().saveAnswer = std::move(path);
}

void Dialogs::setSaveRequestRecorder(std::function<void(const SaveRequest &)> recorder)
{
    answers().saveRecorder = std::move(recorder);
}

void Dialogs::setAlertRecorder(std::function<void(const Alert &)> recorder)
{
    answers().alertRecorder = std::move(recorder);
}

void Dialogs::setBeepRecorder(std::function<void()> recorder)
{
    answers().beepRecorder = std::move(recorder);
}

void Dialogs::resetTestAnswers()
{
    answers() = TestAnswers();
}

} // namespace vyo
