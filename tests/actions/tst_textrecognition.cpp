#include "actions/QuickAction.h"
#include "actions/TextRecognizer.h"

#include "ActionTestFiles.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTransform>
#include <QtConcurrent/QtConcurrentRun>

using namespace vyo;
using namespace vyo::test;

class TestTextRecognition : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void recognisesKoreanAndEnglish();
    void recognisesOnWorkerThread();
    void appliesOrientationBeforeReading();
    void photoWithoutTextHasNoText();
    void withoutImageThereIsNoText();
    void badImagesAreUnreadable_data();
    void badImagesAreUnreadable();
    void helperRunsWithOneOpenMPThread();
    void helperCrashIsUnreadable();
    void helperTimeOutIsUnreadable();
    void missingHelperIsUnderlyingError();

private:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_folder->filePath(name);
        writeFile(path, bytes);
        return path;
    }
    // A stand-in helper: a shell script with the given body.
    QString script(const QString &body)
    {
        const QString path = write(QStringLiteral("helper.sh"), ("#!/bin/sh\n" + body).toUtf8());
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    QuickAction::Result extract(const QString &path)
    {
        return QuickActions::perform(QuickAction::extractText, {QUrl::fromLocalFile(path)});
    }

    std::unique_ptr<QTemporaryDir> m_folder;
};

void TestTextRecognition::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void TestTextRecognition::recognisesKoreanAndEnglish()
{
    const QString path =
        write("memo.png",
              encodedImage(renderedText({"안녕하세요 반갑습니다", "Hello World 2024"}), "png"));
    const QuickAction::Result result = extract(path);
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(result.output().kind(), QuickAction::Output::Kind::text);
    QCOMPARE(result.output().text(), QStringLiteral("안녕하세요 반갑습니다\nHello World 2024"));
}

void TestTextRecognition::recognisesOnWorkerThread()
{
    // Callers run actions in the background: the helper is started from a pool thread.
    const QString path = write("line.png", encodedImage(renderedText({"Background 작업"}), "png"));
    QFuture<QuickAction::Result> future = QtConcurrent::run([this, path] { return extract(path); });
    future.waitForFinished();
    const QuickAction::Result result = future.result();
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(result.output().text(), QStringLiteral("Background 작업"));
}

void TestTextRecognition::appliesOrientationBeforeReading()
{
    // Stored a quarter turn anticlockwise; orientation 6 turns it upright again.
    const QImage upright = renderedText({"회의록 Meeting notes"});
    const QImage stored = upright.transformed(QTransform().rotate(-90));
    const QString path =
        write("rotated.jpg", withExifOrientation(encodedImage(stored, "jpeg", 95), 6));
    const QuickAction::Result result = extract(path);
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(result.output().text(), QStringLiteral("회의록 Meeting notes"));
}

void TestTextRecognition::photoWithoutTextHasNoText()
{
    QImage image(900, 600, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, 600);
    sky.setColorAt(0, QColor(40, 110, 190));
    sky.setColorAt(1, QColor(250, 210, 150));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 240, 120));
    painter.drawEllipse(QPoint(650, 160), 90, 90);
    painter.setBrush(QColor(40, 90, 40));
    painter.drawPolygon(QPolygon({QPoint(0, 600), QPoint(300, 330), QPoint(600, 600)}));
    painter.end();
    const QString path = write("landscape.jpg", encodedImage(image, "jpeg", 90));

    const QuickAction::Result result = extract(path);
    QVERIFY(!result.succeeded());
    QCOMPARE(result.errorDescription(), QStringLiteral("이미지에서 글자를 찾지 못했어요."));
}

void TestTextRecognition::withoutImageThereIsNoText()
{
    const QString notes = write("notes.txt", "words");
    const QuickAction::Result result = extract(notes);
    QCOMPARE(result.actionError(), QuickActions::ActionError::noText());
}

void TestTextRecognition::badImagesAreUnreadable_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("text file named .png") << "text"
                                          << "notes.png"
                                          << "notes.png을(를) 이미지로 읽을 수 없어요.";
    QTest::newRow("zero bytes") << "empty"
                                << "empty.jpg"
                                << "empty.jpg을(를) 이미지로 읽을 수 없어요.";
    QTest::newRow("20000 x 20000") << "huge"
                                   << "huge.png"
                                   << "huge.png을(를) 이미지로 읽을 수 없어요.";
    QTest::newRow("1 x 1") << "tiny"
                           << "dot.png"
                           << "이미지에서 글자를 찾지 못했어요.";
}

void TestTextRecognition::badImagesAreUnreadable()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    const QString path = m_folder->filePath(name);
    if (kind == "text")
        writeFile(path, "Just words.\n");
    else if (kind == "empty")
        writeFile(path, {});
    else if (kind == "huge")
        QVERIFY(writeLargePNG(path, QSize(20000, 20000)));
    else if (kind == "tiny")
        writeFile(path, encodedImage(quadrantImage({1, 1}), "png"));
    QCOMPARE(extract(path).errorDescription(), expected);
}

void TestTextRecognition::helperRunsWithOneOpenMPThread()
{
    const QString image = write("a.png", encodedImage(quadrantImage({8, 8}), "png"));
    const TextRecognizer recognizer(script("printf '%s' \"threads=$OMP_THREAD_LIMIT\""));
    const QuickAction::Result result = recognizer.recognizeText(image);
    QVERIFY2(result.succeeded(), qPrintable(result.errorDescription()));
    QCOMPARE(result.output().text(), QStringLiteral("threads=1"));
}

void TestTextRecognition::helperCrashIsUnreadable()
{
    const QString image = write("crash.png", encodedImage(quadrantImage({8, 8}), "png"));
    const TextRecognizer recognizer(script("kill -SEGV $$\n"));
    LogCapture log;
    const QuickAction::Result result = recognizer.recognizeText(image);
    QCOMPARE(result.actionError(), QuickActions::ActionError::unreadable("crash.png"));
    QVERIFY(log.contains(QStringLiteral("글자 인식 도구 비정상 종료")));
}

void TestTextRecognition::helperTimeOutIsUnreadable()
{
    const QString image = write("slow.png", encodedImage(quadrantImage({8, 8}), "png"));
    const TextRecognizer recognizer(script("exec sleep 60\n"), 300);
    QElapsedTimer timer;
    timer.start();
    const QuickAction::Result result = recognizer.recognizeText(image);
    QCOMPARE(result.actionError(), QuickActions::ActionError::unreadable("slow.png"));
    QVERIFY2(timer.elapsed() < 30'000, "the helper was not stopped");
}

void TestTextRecognition::missingHelperIsUnderlyingError()
{
    const QString image = write("a.png", encodedImage(quadrantImage({8, 8}), "png"));
    const TextRecognizer recognizer(m_folder->filePath("no-such-helper"));
    const QuickAction::Result result = recognizer.recognizeText(image);
    QVERIFY(!result.succeeded());
    QVERIFY(!result.actionError());
    QCOMPARE(result.errorDescription(), QStringLiteral("글자 인식 도구를 실행하지 못했어요."));
}

QTEST_MAIN(TestTextRecognition)
#include "tst_textrecognition.moc"
