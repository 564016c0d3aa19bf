// The name an uploaded file is stored under: one table of what browsers may send and what lands on
// disk.

#include "logic/UploadName.h"

#include <QTest>

using namespace vyo;

Q_DECLARE_METATYPE(std::optional<QString>)

class TestUploadName : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleaning_data();
    void cleaning();
    void keepsTwoHundredCharacters_data();
    void keepsTwoHundredCharacters();
};

void TestUploadName::cleaning_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<std::optional<QString>>("expected");
    using Name = std::optional<QString>;
    const QString decomposed = QStringLiteral("\u1100\u1161\u11A8 Cafe\u0301.txt");

    QTest::newRow("plain") << QStringLiteral("report.pdf") << Name(u"report.pdf"_qs);
    QTest::newRow("decomposed becomes NFC")
        << decomposed << Name(QStringLiteral("\uAC01 Caf\u00E9.txt"));
    QTest::newRow("slashes") << QStringLiteral("a/b\\c:d.txt") << Name(u"a_b_c_d.txt"_qs);
    QTest::newRow("parent steps") << QStringLiteral("../../folder/file.txt")
                                  << Name(u"_.._folder_file.txt"_qs);
    QTest::newRow("absolute path") << QStringLiteral("/etc/passwd") << Name(u"_etc_passwd"_qs);
    QTest::newRow("control characters")
        << QStringLiteral("a\u0001b\u007Fc\u0000d") << Name(u"a_b_c_d"_qs);
    QTest::newRow("line breaks") << QStringLiteral("a\nb\r\nc\u2028d\u2029e\u0085f")
                                 << Name(u"a_b__c_d_e_f"_qs);
    QTest::newRow("format character")
        << QStringLiteral("evil\u202Etxt.exe") << Name(u"evil_txt.exe"_qs);
    QTest::newRow("spaces trimmed") << QStringLiteral("   name.txt  ") << Name(u"name.txt"_qs);
    QTest::newRow("leading dots") << QStringLiteral("...hidden") << Name(u"hidden"_qs);
    QTest::newRow("dots after spaces") << QStringLiteral("  .profile") << Name(u"profile"_qs);
    QTest::newRow("trailing dots kept") << QStringLiteral("name...") << Name(u"name..."_qs);
    QTest::newRow("empty") << QString() << Name();
    QTest::newRow("only dots") << QStringLiteral("....") << Name();
}

void TestUploadName::cleaning()
{
    QFETCH(QString, name);
    QFETCH(std::optional<QString>, expected);
    QCOMPARE(cleanUploadName(name), expected);
}

void TestUploadName::keepsTwoHundredCharacters_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<int>("expectedCount");

    QTest::newRow("ascii 200") << QStringLiteral("a") << 200 << QString() << 200;
    QTest::newRow("ascii 201") << QStringLiteral("a") << 201 << QString() << 200;
    // A Linux file name holds 255 bytes: 85 Hangul syllables of three bytes each.
    QTest::newRow("hangul 300") << QStringLiteral("가") << 300 << QString() << 85;
    QTest::newRow("hangul keeps its extension") << QStringLiteral("가") << 84 << ".txt" << 83;
    // Two code units each: counted once, never split.
    QTest::newRow("emoji 300") << QStringLiteral("📦") << 300 << QString() << 63;
    // A letter with its combining mark is one character (NFC afterwards makes it one code unit).
    QTest::newRow("combining 300") << QStringLiteral("e\u0301") << 300 << QString() << 127;
    // A flag is two regional indicators, one character.
    QTest::newRow("flag 250") << QStringLiteral("🇰🇷") << 250 << QString() << 31;
}

void TestUploadName::keepsTwoHundredCharacters()
{
    QFETCH(QString, unit);
    QFETCH(int, count);
    QFETCH(QString, extension);
    QFETCH(int, expectedCount);

    const std::optional<QString> cleaned = cleanUploadName(unit.repeated(count) + extension);
    QVERIFY(cleaned);
    QCOMPARE(*cleaned,
             unit.repeated(expectedCount).normalized(QString::NormalizationForm_C) + extension);
    QVERIFY(cleaned->toUtf8().size() <= 255);
}

QTEST_APPLESS_MAIN(TestUploadName)
#include "tst_uploadname.moc"
