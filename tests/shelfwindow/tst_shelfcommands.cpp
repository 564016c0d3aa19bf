// The shelf commands on real shelves with real files: targets, the context menu's entries and
// what they do, paste, the share menu, quick-action runs with their messages and the status
// timer.

#include "actions/QuickAction.h"
#include "platform/fake/FakeDesktop.h"
#include "shelf/Shelf.h"
#include "shelfwindow/SharePicker.h"
#include "shelfwindow/ShelfCommands.h"
#include "shelfwindow/ShelfMenus.h"

#include "ActionTestFiles.h"
#include "ShelfSupport.h"
#include "TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace vyo;
using Content = ShelfItem::Content;
using test::link;
using test::text;

namespace {

QList<bool> enabledStates(const QMenu *menu)
{
    QList<bool> states;
    for (const QAction *action : menu->actions()) {
        if (!action->isSeparator())
            states.append(action->isEnabled());
    }
    return states;
}

const QString noStatus = QStringLiteral("<no status>");

QString statusOf(const Shelf &shelf)
{
    return shelf.status().value_or(noStatus);
}

QMenu *quickActionMenu(const QMenu *menu)
{
    QAction *work = test::menuEntry(menu, QStringLiteral("작업"));
    return work ? work->menu() : nullptr;
}

const QStringList contextTitles = {
    QStringLiteral("열기"),  QStringLiteral("빠른 보기"),
    QStringLiteral("공유…"), QStringLiteral("파일 관리자에서 보기"),
    QStringLiteral("작업"),  QStringLiteral("—"),
    QStringLiteral("복사"),
};

} // namespace

class TestShelfCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void targetsAreTheSelectionInShelfOrder();
    void rightClickOnUnselectedRowSelectsOnlyIt();
    void rightClickInsideSelectionKeepsIt();
    void stackMenuActsOnAllItems();
    void textOnlyTargets();
    void linksAndTextsOnly();
    void quickActionSubmenu();
    void quickActionSubmenuFollowsTheTargets();
    void copyEntryPutsExistingTargetsOnTheClipboard();
    void removeEntryClosesAnEmptiedShelf();
    void openEntryOpensFilesAndLinks();
    void revealShowsExistingFiles();
    void pasteAddsClipboardContent();
    void pasteOfUnusableContentBeeps();
    void shareOffersEmailAndCopy();
    void shareWithNothingShareableShowsNothing();
    void quickActionAddsItsFiles();
    void threeResultsAreCounted();
    void failedQuickActionShowsItsMessage();
    void inapplicableQuickActionDoesNothing();
    void resultArrivesAfterTheCommandsAreGone();
    void textExtractionAddsAndCopiesTheText();
    void shelfClosedDuringRunStillReports();
    void newerMessageOutlivesOlderTimer();

private:
    QString path(const QString &name) const { return m_dir->filePath(name); }
    ShelfItem fileItem(const QString &name, const QByteArray &bytes = "x")
    {
        test::writeFile(path(name), bytes);
        return ShelfItem(Content::file(QUrl::fromLocalFile(path(name))));
    }
    ShelfItem imageItem(const QString &name, QSize size)
    {
        QImage image = test::quadrantImage(size);
        image.save(path(name));
        return ShelfItem(Content::file(QUrl::fromLocalFile(path(name))));
    }
    // An image with "HELLO 2024" written large on it.
    ShelfItem textImage(const QString &name)
    {
        test::renderedText({QStringLiteral("HELLO 2024")}).save(path(name));
        return ShelfItem(Content::file(QUrl::fromLocalFile(path(name))));
    }

    QTemporaryDir *m_dir = nullptr;
    Shelf *m_shelf = nullptr;
    ShelfCommands *m_commands = nullptr;
    // Records beeps, opened and revealed files.
    FakeDesktop m_desktop;
};

void TestShelfCommands::init()
{
    m_dir = new QTemporaryDir;
    QVERIFY(m_dir->isValid());
    m_shelf = new Shelf;
    m_commands = new ShelfCommands(m_shelf);
    m_desktop.dialogs().clear();
    m_desktop.fileManager().clear();
    QGuiApplication::clipboard()->clear();
}

void TestShelfCommands::cleanup()
{
    delete m_commands;
    delete m_shelf;
    delete m_dir;
    SharePicker::setLaunchRecorder(nullptr);
}

void TestShelfCommands::targetsAreTheSelectionInShelfOrder()
{
    const ShelfItem a = text("a"), b = text("b"), c = text("c");
    m_shelf->add({a, b, c});
    QCOMPARE(m_commands->targetItems(), (QList<ShelfItem>{a, b, c}));

    m_shelf->setSelection({c.id(), a.id()});
    QCOMPARE(m_commands->targetItems(), (QList<ShelfItem>{a, c}));

    // A selection that names no current item targets everything.
    m_shelf->setSelection({QUuid::createUuid()});
    QCOMPARE(m_commands->targetItems(), (QList<ShelfItem>{a, b, c}));
}

void TestShelfCommands::rightClickOnUnselectedRowSelectsOnlyIt()
{
    const ShelfItem a = imageItem(QStringLiteral("a.png"), {40, 30});
    const ShelfItem b = fileItem(QStringLiteral("b.txt"));
    const ShelfItem c = text("c");
    m_shelf->add({a, b, c});
    m_shelf->setSelection({a.id(), c.id()});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, b.id()));
    QCOMPARE(m_shelf->selection(), QSet<QUuid>{b.id()});
    QCOMPARE(test::menuTitles(menu.get()),
             contextTitles + QStringList{QStringLiteral("셸프에서 빼기")});
    QCOMPARE(enabledStates(menu.get()), (QList<bool>{true, true, true, true, false, true, true}));

    const QAction *preview = test::menuEntry(menu.get(), QStringLiteral("빠른 보기"));
    QCOMPARE(preview->shortcut(), QKeySequence(Qt::Key_Space));
    QVERIFY(preview->isShortcutVisibleInContextMenu());
    const QAction *copy = test::menuEntry(menu.get(), QStringLiteral("복사"));
    QCOMPARE(copy->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
    QVERIFY(copy->isShortcutVisibleInContextMenu());
    for (const QAction *action : menu->actions()) {
        if (!action->isSeparator())
            QVERIFY2(!action->icon().isNull(), qPrintable(action->text()));
        if (!action->isSeparator() && !action->menu())
            QVERIFY2(qobject_cast<MenuAction *>(action->data().value<QObject *>()),
                     qPrintable(action->text()));
    }
}

void TestShelfCommands::rightClickInsideSelectionKeepsIt()
{
    const ShelfItem a = text("a"), b = text("b"), c = text("c"), d = text("d");
    m_shelf->add({a, b, c, d});
    m_shelf->setSelection({a.id(), b.id(), d.id()});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, b.id()));
    QCOMPARE(m_shelf->selection(), (QSet<QUuid>{a.id(), b.id(), d.id()}));
    QCOMPARE(menu->actions().last()->text(), QStringLiteral("셸프에서 3개 빼기"));

    menu->actions().last()->trigger();
    QCOMPARE(m_shelf->items(), QList<ShelfItem>{c});
}

void TestShelfCommands::stackMenuActsOnAllItems()
{
    const ShelfItem a = text("a"), b = text("b");
    m_shelf->add({a, b, text("c")});
    m_shelf->setSelection({a.id()});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    QCOMPARE(m_shelf->selection(), QSet<QUuid>{a.id()});
    QCOMPARE(menu->actions().last()->text(), QStringLiteral("셸프에서 3개 빼기"));
    test::menuEntry(menu.get(), QStringLiteral("복사"))->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("a\nb\nc"));
}

void TestShelfCommands::textOnlyTargets()
{
    const ShelfItem a = text("a");
    m_shelf->add({a, fileItem(QStringLiteral("f.txt"))});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, a.id()));
    // 열기, 빠른 보기 (a file elsewhere on the shelf), 공유…, 파일 관리자에서 보기, 작업, 복사,
    // 빼기
    QCOMPARE(enabledStates(menu.get()), (QList<bool>{false, true, true, false, false, true, true}));
    QCOMPARE(menu->actions().last()->text(), QStringLiteral("셸프에서 빼기"));
}

void TestShelfCommands::linksAndTextsOnly()
{
    m_shelf->add({text("a"), link(QStringLiteral("https://example.org/page"))});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    QCOMPARE(enabledStates(menu.get()), (QList<bool>{true, false, true, false, false, true, true}));
    QCOMPARE(menu->actions().last()->text(), QStringLiteral("셸프에서 2개 빼기"));
}

void TestShelfCommands::quickActionSubmenu()
{
    m_shelf->add({imageItem(QStringLiteral("a.png"), {30, 20}),
                  fileItem(QStringLiteral("b.pdf"), "%PDF-1.4")});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    const QMenu *actions = quickActionMenu(menu.get());
    QVERIFY(actions);
    QVERIFY(test::menuEntry(menu.get(), QStringLiteral("작업"))->isEnabled());
    QCOMPARE(test::menuTitles(actions), (QStringList{
                                            QStringLiteral("JPG로 바꾸기"),
                                            QStringLiteral("—"),
                                            QStringLiteral("이미지 줄이기 (긴 변 2048)"),
                                            QStringLiteral("이미지 줄이기 (긴 변 1280)"),
                                            QStringLiteral("이미지 줄이기 (긴 변 800)"),
                                            QStringLiteral("—"),
                                            QStringLiteral("이미지 속 글자 추출"),
                                            QStringLiteral("—"),
                                            QStringLiteral("PDF 하나로 합치기"),
                                        }));
    // One PNG and one PDF: all six apply.
    QCOMPARE(enabledStates(actions), QList<bool>(6, true));
    for (const QAction *entry : actions->actions()) {
        if (!entry->isSeparator())
            QVERIFY2(!entry->icon().isNull(), qPrintable(entry->text()));
    }
}

void TestShelfCommands::quickActionSubmenuFollowsTheTargets()
{
    const ShelfItem one = imageItem(QStringLiteral("one.png"), {30, 20});
    const ShelfItem two = imageItem(QStringLiteral("two.jpg"), {30, 20});
    const ShelfItem pdf = fileItem(QStringLiteral("doc.pdf"), "%PDF-1.4");
    const ShelfItem note = text("note");
    m_shelf->add({one, two, pdf, note});

    // Two images: text extraction needs exactly one.
    m_shelf->setSelection({one.id(), two.id()});
    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, one.id()));
    QCOMPARE(enabledStates(quickActionMenu(menu.get())),
             (QList<bool>{true, true, true, true, false, true}));

    // One PDF and one text: nothing applies, and the entry is off.
    m_shelf->setSelection({pdf.id(), note.id()});
    menu.reset(ShelfMenus::contextMenu(*m_commands, note.id()));
    QVERIFY(!test::menuEntry(menu.get(), QStringLiteral("작업"))->isEnabled());
    QCOMPARE(enabledStates(quickActionMenu(menu.get())), QList<bool>(6, false));
}

void TestShelfCommands::copyEntryPutsExistingTargetsOnTheClipboard()
{
    const ShelfItem file = fileItem(QStringLiteral("keep.txt"));
    const ShelfItem gone = fileItem(QStringLiteral("gone.txt"));
    const ShelfItem site = link(QStringLiteral("https://example.org/x"));
    m_shelf->add({file, gone, site, text("hello")});
    QFile::remove(path(QStringLiteral("gone.txt")));

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    test::menuEntry(menu.get(), QStringLiteral("복사"))->trigger();

    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data);
    QCOMPARE(data->urls(), (QList<QUrl>{file.content().url(), site.content().url()}));
    QCOMPARE(data->text(),
             path(QStringLiteral("keep.txt")) + QStringLiteral("\nhttps://example.org/x\nhello"));
}

void TestShelfCommands::removeEntryClosesAnEmptiedShelf()
{
    QSignalSpy emptied(m_commands, &ShelfCommands::emptied);
    const ShelfItem a = text("a"), b = text("b");
    m_shelf->add({a, b});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, a.id()));
    menu->actions().last()->trigger();
    QCOMPARE(m_shelf->items(), QList<ShelfItem>{b});
    QCOMPARE(emptied.size(), 0);

    menu.reset(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    QCOMPARE(menu->actions().last()->text(), QStringLiteral("셸프에서 빼기"));
    menu->actions().last()->trigger();
    QVERIFY(m_shelf->items().isEmpty());
    QCOMPARE(emptied.size(), 1);

    // An entry outliving its commands does nothing.
    m_shelf->add({text("c")});
    menu.reset(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    delete m_commands;
    m_commands = nullptr;
    menu->actions().last()->trigger();
    QCOMPARE(m_shelf->items().size(), 1);
}

void TestShelfCommands::openEntryOpensFilesAndLinks()
{
    const ShelfItem file = fileItem(QStringLiteral("a.txt"));
    const ShelfItem site = link(QStringLiteral("https://example.org/a"));
    m_shelf->add({file, text("t"), site});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    test::menuEntry(menu.get(), QStringLiteral("열기"))->trigger();
    QCOMPARE(m_desktop.fileManager().opened(),
             (QList<QUrl>{file.content().url(), site.content().url()}));
    QCOMPARE(m_desktop.dialogs().beeps(), 0);

    // No application to open it with: logged, and a beep.
    m_desktop.fileManager().clear();
    m_desktop.fileManager().setOpenSucceeds(false);
    test::LogCapture log;
    m_commands->open(site);
    QVERIFY(log.contains(QStringLiteral("열 수 없음: https://example.org/a")));
    QCOMPARE(m_desktop.dialogs().beeps(), 1);
    m_desktop.fileManager().setOpenSucceeds(true);

    // A file that vanished leaves nothing to open.
    QFile::remove(path(QStringLiteral("a.txt")));
    m_commands->open(file);
    QCOMPARE(m_desktop.dialogs().beeps(), 2);
    QVERIFY(m_desktop.fileManager().opened().isEmpty());
}

void TestShelfCommands::revealShowsExistingFiles()
{
    // The files that still exist, in one reveal; nothing when none does.
    QDir(m_dir->path()).mkdir(QStringLiteral("sub"));
    const ShelfItem a = fileItem(QStringLiteral("a.txt"));
    const ShelfItem b = fileItem(QStringLiteral("sub/b.txt"));
    const ShelfItem gone = fileItem(QStringLiteral("gone.txt"));
    QFile::remove(path(QStringLiteral("gone.txt")));
    m_shelf->add({a, text("t"), b, gone});

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    test::menuEntry(menu.get(), QStringLiteral("파일 관리자에서 보기"))->trigger();
    QCOMPARE(m_desktop.fileManager().revealed(),
             (QList<QList<QUrl>>{{a.content().url(), b.content().url()}}));

    m_desktop.fileManager().clear();
    m_commands->reveal({gone.content().url()});
    QCOMPARE(m_desktop.dialogs().beeps(), 1);
    QVERIFY(m_desktop.fileManager().revealed().isEmpty());
}

void TestShelfCommands::pasteAddsClipboardContent()
{
    const QString a = path(QStringLiteral("a.txt"));
    test::writeFile(a, "x");
    auto *data = new QMimeData;
    data->setUrls({QUrl::fromLocalFile(a)});
    QGuiApplication::clipboard()->setMimeData(data);

    m_commands->paste();
    QCOMPARE(m_shelf->items().size(), 1);
    QCOMPARE(m_shelf->items().first().content(), Content::file(QUrl::fromLocalFile(a)));
    QVERIFY(m_shelf->hasReceivedDrop);

    QGuiApplication::clipboard()->setText(QStringLiteral("붙여 넣은 글"));
    m_commands->paste();
    QCOMPARE(m_shelf->items().size(), 2);
    QCOMPARE(m_shelf->items().last().content(), Content::text(QStringLiteral("붙여 넣은 글")));
    QCOMPARE(m_desktop.dialogs().beeps(), 0);
}

void TestShelfCommands::pasteOfUnusableContentBeeps()
{
    m_shelf->add({text("a")});
    auto *data = new QMimeData;
    data->setData(QStringLiteral("application/x-vyo-unknown"), "bytes");
    QGuiApplication::clipboard()->setMimeData(data);

    m_commands->paste();
    QCOMPARE(m_desktop.dialogs().beeps(), 1);
    QCOMPARE(m_shelf->items().size(), 1);
    QVERIFY(!m_shelf->hasReceivedDrop);

    QGuiApplication::clipboard()->setText(QStringLiteral("   \n "));
    m_commands->paste();
    QCOMPARE(m_desktop.dialogs().beeps(), 2);
    QCOMPARE(m_shelf->items().size(), 1);
}

void TestShelfCommands::shareOffersEmailAndCopy()
{
    if (SharePicker::emailProgram().isEmpty())
        QSKIP("xdg-email is not installed");
    QWidget panel;
    panel.resize(200, 220);
    panel.show();
    m_commands->panel = &panel;

    const ShelfItem file = fileItem(QStringLiteral("사진.png"));
    const ShelfItem gone = fileItem(QStringLiteral("gone.txt"));
    QFile::remove(path(QStringLiteral("gone.txt")));
    m_shelf->add({file, gone, link(QStringLiteral("https://example.org/a")), text("메모")});

    QString program;
    QStringList arguments;
    SharePicker::setLaunchRecorder([&](const QString &p, const QStringList &a) {
        program = p;
        arguments = a;
    });

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    test::menuEntry(menu.get(), QStringLiteral("공유…"))->trigger();
    QMenu *picker = panel.findChild<QMenu *>(QStringLiteral("sharePicker"));
    QVERIFY(picker);
    QTRY_VERIFY(picker->isVisible());
    QCOMPARE(test::menuTitles(picker),
             (QStringList{QStringLiteral("이메일로 보내기"), QStringLiteral("휴대폰·PC로 보내기"),
                          QStringLiteral("복사")}));
    // Opened below the anchor near the header's right end.
    const QPoint anchor = panel.mapToGlobal(QPoint(panel.width() - 40, 36));
    QVERIFY(qAbs(picker->pos().y() - anchor.y()) <= 2);

    test::menuEntry(picker, QStringLiteral("이메일로 보내기"))->trigger();
    QVERIFY(program.endsWith(QStringLiteral("xdg-email")));
    QCOMPARE(arguments,
             (QStringList{QStringLiteral("--utf8"), QStringLiteral("--body"),
                          QStringLiteral("https://example.org/a\n메모"), QStringLiteral("--attach"),
                          path(QStringLiteral("사진.png"))}));

    // Sending to phones and PCs asks the shelf's view for its share sheet, with a fresh request
    // every time.
    QVERIFY(!m_shelf->shareRequest());
    test::menuEntry(picker, QStringLiteral("휴대폰·PC로 보내기"))->trigger();
    const std::optional<QUuid> request = m_shelf->shareRequest();
    QVERIFY(request);
    test::menuEntry(picker, QStringLiteral("휴대폰·PC로 보내기"))->trigger();
    QVERIFY(m_shelf->shareRequest() && m_shelf->shareRequest() != request);

    test::menuEntry(picker, QStringLiteral("복사"))->trigger();
    QCOMPARE(QGuiApplication::clipboard()->mimeData()->urls().first(), file.content().url());
    picker->hide();
    QTRY_VERIFY(!panel.findChild<QMenu *>(QStringLiteral("sharePicker")));
}

void TestShelfCommands::shareWithNothingShareableShowsNothing()
{
    QWidget panel;
    panel.show();
    m_commands->panel = &panel;
    const ShelfItem gone = fileItem(QStringLiteral("gone.txt"));
    QFile::remove(path(QStringLiteral("gone.txt")));
    m_shelf->add({gone});

    m_commands->share();
    QVERIFY(!panel.findChild<QMenu *>(QStringLiteral("sharePicker")));

    // Without a panel there is no place for the menu.
    m_commands->panel = nullptr;
    m_commands->share(QList<ShelfItem>{text("a")});
    QVERIFY(!panel.findChild<QMenu *>(QStringLiteral("sharePicker")));
}

void TestShelfCommands::quickActionAddsItsFiles()
{
    const ShelfItem png = imageItem(QStringLiteral("그림.png"), {64, 48});
    m_shelf->add({png, text("t")});
    QSignalSpy finished(m_commands, &ShelfCommands::quickActionFinished);

    m_commands->runQuickAction(QuickAction::convertToJPEG);
    QCOMPARE(statusOf(*m_shelf), QStringLiteral("JPG로 바꾸는 중…"));
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
    QCOMPARE(finished.first().first().toBool(), true);

    QCOMPARE(m_shelf->items().size(), 3);
    const ShelfItem made = m_shelf->items().last();
    QCOMPARE(made.content().kind(), Content::Kind::file);
    QCOMPARE(QFileInfo(made.content().url().toLocalFile()).fileName(), QStringLiteral("그림.jpg"));
    QVERIFY(made.exists());
    QCOMPARE(statusOf(*m_shelf), QStringLiteral("만들었어요"));
}

void TestShelfCommands::threeResultsAreCounted()
{
    const ShelfItem a = imageItem(QStringLiteral("a.png"), {900, 300});
    const ShelfItem b = imageItem(QStringLiteral("b.png"), {300, 1000});
    const ShelfItem c = imageItem(QStringLiteral("c.png"), {850, 850});
    m_shelf->add({a, b, c});
    QSignalSpy finished(m_commands, &ShelfCommands::quickActionFinished);

    QStringList shown;
    connect(m_shelf, &Shelf::statusChanged, this, [&] { shown.append(statusOf(*m_shelf)); });

    std::unique_ptr<QMenu> menu(ShelfMenus::contextMenu(*m_commands, std::nullopt));
    quickActionMenu(menu.get())->actions().at(4)->trigger(); // 이미지 줄이기 (긴 변 800)
    QCOMPARE(statusOf(*m_shelf), QStringLiteral("이미지를 줄이는 중…"));
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
    // The files are counted while they are made.
    QCOMPARE(shown.mid(0, 4), (QStringList{"이미지를 줄이는 중…", "이미지를 줄이는 중… 1/3",
                                           "이미지를 줄이는 중… 2/3", "이미지를 줄이는 중… 3/3"}));

    QCOMPARE(m_shelf->items().size(), 6);
    QStringList names;
    for (qsizetype i = 3; i < 6; ++i)
        names.append(QFileInfo(m_shelf->items()[i].content().url().toLocalFile()).fileName());
    QCOMPARE(names, (QStringList{QStringLiteral("a (800px).png"), QStringLiteral("b (800px).png"),
                                 QStringLiteral("c (800px).png")}));
    QCOMPARE(statusOf(*m_shelf), QStringLiteral("3개를 만들었어요"));
}

void TestShelfCommands::failedQuickActionShowsItsMessage()
{
    const ShelfItem small = imageItem(QStringLiteral("small.png"), {1000, 600});
    m_shelf->add({small});
    test::LogCapture log;
    QSignalSpy finished(m_commands, &ShelfCommands::quickActionFinished);

    m_commands->runQuickAction(QuickAction::resize1280);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 20000);
    QCOMPARE(finished.first().first().toBool(), false);

    const QString message = QStringLiteral("small.png은(는) 이미 그보다 작아요.");
    QCOMPARE(statusOf(*m_shelf), message);
    QVERIFY(log.contains(QStringLiteral("빠른 작업 실패: ") + message));
    QCOMPARE(m_desktop.dialogs().beeps(), 1);
    QCOMPARE(m_shelf->items(), QList<ShelfItem>{small});
}

void TestShelfCommands::inapplicableQuickActionDoesNothing()
{
    const ShelfItem gone = imageItem(QStringLiteral("gone.png"), {20, 20});
    m_shelf->add({gone, fileItem(QStringLiteral("doc.pdf"), "%PDF-1.4")});
    QFile::remove(path(QStringLiteral("gone.png")));
    QSignalSpy finished(m_commands, &ShelfCommands::quickActionFinished);

    // The image vanished: nothing is left to convert or merge with.
    m_commands->runQuickAction(QuickAction::convertToJPEG);
    m_commands->runQuickAction(QuickAction::mergePDF);
    // A run would have shown its status at once.
    QCOMPARE(statusOf(*m_shelf), noStatus);
    QVERIFY(finished.isEmpty());
    QCOMPARE(m_shelf->items().size(), 2);
}

void TestShelfCommands::resultArrivesAfterTheCommandsAreGone()
{
    m_shelf->add({imageItem(QStringLiteral("a.png"), {40, 40})});
    QSignalSpy changed(m_shelf, &Shelf::itemsChanged);

    m_commands->runQuickAction(QuickAction::convertToJPEG);
    // The panel closed: its commands go with it, the shelf stays.
    delete m_commands;
    m_commands = nullptr;

    QTRY_VERIFY_WITH_TIMEOUT(!changed.isEmpty(), 20000);
    QCOMPARE(m_shelf->items().size(), 2);
    QCOMPARE(statusOf(*m_shelf), QStringLiteral("만들었어요"));
}

void TestShelfCommands::textExtractionAddsAndCopiesTheText()
{
    m_shelf->add({textImage(QStringLiteral("text.png"))});
    QSignalSpy finished(m_commands, &ShelfCommands::quickActionFinished);

    m_commands->runQuickAction(QuickAction::extractText);
    QCOMPARE(statusOf(*m_shelf), QStringLiteral("글자를 읽는 중…"));
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
    QVERIFY2(finished.first().first().toBool(), qPrintable(statusOf(*m_shelf)));

    QCOMPARE(m_shelf->items().size(), 2);
    const ShelfItem made = m_shelf->items().last();
    QCOMPARE(made.content().kind(), Content::Kind::text);
    QVERIFY2(made.content().text().contains(QStringLiteral("HELLO")),
             qPrintable(made.content().text()));
    QCOMPARE(QGuiApplication::clipboard()->text(), made.content().text());
    QCOMPARE(statusOf(*m_shelf), QStringLiteral("글자를 담고 복사했어요"));
}

void TestShelfCommands::shelfClosedDuringRunStillReports()
{
    // The shelf goes while the run is under way: the text still reaches the clipboard, and a
    // failure is still logged and beeped.
    test::LogCapture log;
    QGuiApplication::clipboard()->clear();
    auto *shelf = new Shelf;
    ShelfCommands commands(shelf);
    shelf->add({textImage(QStringLiteral("text.png")),
                imageItem(QStringLiteral("small.png"), {1000, 600})});
    QSignalSpy finished(&commands, &ShelfCommands::quickActionFinished);
    commands.runQuickAction(QuickAction::extractText, QList<ShelfItem>{shelf->items().first()});
    commands.runQuickAction(QuickAction::resize1280, QList<ShelfItem>{shelf->items().last()});
    delete shelf;

    QTRY_VERIFY_WITH_TIMEOUT(finished.size() == 2, 60000);
    QVERIFY2(QGuiApplication::clipboard()->text().contains(QStringLiteral("HELLO")),
             qPrintable(QGuiApplication::clipboard()->text()));
    QVERIFY(log.contains(QStringLiteral("빠른 작업 실패: small.png은(는) 이미 그보다 작아요.")));
    QCOMPARE(m_desktop.dialogs().beeps(), 1);
}

void TestShelfCommands::newerMessageOutlivesOlderTimer()
{
    // Two shelves side by side: one gets two different messages 1 s apart, the other the same
    // message twice. In both the second message stays its full 2.5 s.
    Shelf other;
    ShelfCommands otherCommands(&other);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> clearedAt, otherClearedAt;
    connect(m_shelf, &Shelf::statusChanged, this, [&] {
        if (!m_shelf->status())
            clearedAt.append(clock.elapsed());
    });
    connect(&other, &Shelf::statusChanged, this, [&] {
        if (!other.status())
            otherClearedAt.append(clock.elapsed());
    });
    m_commands->flashStatus(QStringLiteral("만들었어요"));
    otherCommands.flashStatus(QStringLiteral("만들었어요"));
    QCOMPARE(statusOf(*m_shelf), QStringLiteral("만들었어요"));

    qint64 secondAt = -1;
    QTimer::singleShot(1000, this, [&] {
        secondAt = clock.elapsed();
        m_commands->flashStatus(QStringLiteral("3개를 만들었어요"));
        otherCommands.flashStatus(QStringLiteral("만들었어요"));
    });
    QTRY_VERIFY_WITH_TIMEOUT(clearedAt.size() == 1 && otherClearedAt.size() == 1, 6000);
    QVERIFY(secondAt >= 0);

    QVERIFY2(clearedAt.first() - secondAt >= 2300,
             qPrintable(QString::number(clearedAt.first() - secondAt)));
    QVERIFY2(otherClearedAt.first() - secondAt >= 2300,
             qPrintable(QString::number(otherClearedAt.first() - secondAt)));
}

QTEST_MAIN(TestShelfCommands)
#include "tst_shelfcommands.moc"
