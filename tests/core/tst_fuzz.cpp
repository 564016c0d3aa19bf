// Mutation fuzzing of the decoders that read bytes from outside the process: the browser's
// data-channel messages, the state file, vyoshelf: addresses and the watched-folder list. Each row
// mutates small valid inputs with a fixed-seed generator and checks that nothing crashes or throws
// and that what each decoder accepts keeps its meaning: written back, it reads the same. Loops are
// bounded in count and in time; timing itself is never asserted.

#include "core/Ids.h"
#include "logic/TransferProtocol.h"
#include "logic/URLCommand.h"
#include "logic/WatchedFolder.h"
#include "shelf/ShelfPersistence.h"

#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <exception>
#include <functional>
#include <random>

using namespace vyo;
using Incoming = TransferProtocol::Incoming;

namespace {

constexpr std::uint32_t generatorSeed = 0x5EED1234;
// Per row: at most this many mutants, and no new ones after the time budget once the minimum
// has run (the budget bounds the run time on a slow machine; it is not a speed requirement).
constexpr int maximumMutations = 3000;
constexpr int minimumMutations = 100;
constexpr qint64 rowBudgetMilliseconds = 1000;
// Mutants are cut to this size so that stacked duplications cannot grow without bound.
constexpr qsizetype maximumInputSize = 256 * 1024;

constexpr qint64 referenceDateMilliseconds = 978307200000; // 2001-01-01T00:00:00Z

// What one decoder did with one input: whether it accepted it, and the broken invariant if any.
struct Outcome
{
    bool accepted = false;
    QString problem;
};

const Outcome accepted{true, {}};
const Outcome rejected{false, {}};

Outcome broken(const QString &problem)
{
    return {false, problem};
}

struct Target
{
    QList<QByteArray> seeds;
    std::function<Outcome(const QByteArray &)> check;
};

// A printable excerpt of an input for failure messages.
QString describe(const QByteArray &input)
{
    return QString::fromLatin1(input.left(400).toPercentEncoding(" {}[]\":,")) +
           (input.size() > 400 ? QStringLiteral("… (%1 bytes)").arg(input.size()) : QString());
}

// The check's outcome with log output swallowed (the decoders log every unreadable input) and
// exceptions caught.
Outcome quietly(const Target &target, const QByteArray &input)
{
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    Outcome outcome;
    try {
        outcome = target.check(input);
    } catch (const std::exception &exception) {
        outcome = broken(QStringLiteral("exception: ") + QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        outcome = broken(QStringLiteral("an exception of unknown type"));
    }
    qInstallMessageHandler(previous);
    return outcome;
}

// Deterministic mutations of byte strings, with JSON-aware ones for inputs that parse as JSON.
class Mutator
{
public:
    explicit Mutator(std::uint32_t seed)
        : m_random(seed)
    {}

    // A whole number in [0, bound).
    qsizetype below(qsizetype bound) { return bound <= 0 ? 0 : qsizetype(m_random() % bound); }
    bool chance(int inEvery) { return below(inEvery) == 0; }

    QByteArray mutate(const QList<QByteArray> &seeds, const QByteArray &previous)
    {
        QByteArray input = !previous.isNull() && chance(4) ? previous : seeds[below(seeds.size())];
        const int steps = 1 + int(below(3));
        for (int step = 0; step < steps; ++step)
            input = mutateOnce(input, seeds);
        if (input.size() > maximumInputSize)
            input.truncate(maximumInputSize);
        return input;
    }

private:
    // Numbers at the edges of the integer and double ranges; JSON values
    // of every type and loose pieces of JSON syntax; invalid UTF-8 (stray bytes, overlong and
    // surrogate forms, a cut sequence); pieces of addresses, paths and base64; white space, NUL.
    static const QList<QByteArray> &tokens()
    {
        static const QList<QByteArray> list =
            QByteArray(
                "0 -0 -1 1.5 1e308 -1e308 4294967295 4294967296 9007199254740993 "
                "9223372036854775807 9223372036854775808 -9223372036854775809 "
                "18446744073709551615 18446744073709551616 1e19 1e300 -1e300 9.2e15 "
                "-9.2e15 5e-324 0.0001 123456789012345678901234567890 "
                "null true false \"\" [] {} [[0,0],[0,0]] \"\\ud800\" \"\\u0000\" "
                "\"\\udc00\\ud800\" \"E621E1F8-C36C-495A-93FC-0C247A3E6E5F\" \"file:///\" "
                "\"%zz\" \"none\" { } [ ] , : \" \\ "
                "\xff \xfe \xc0\x80 \xed\xa0\x80 \xf4\x90\x80\x80 \xe2\x82 \x80 "
                "% %zz %00 %2e%2e .. /.. ~ ~/ // ? & # = == path= :// @ [::1] :99999 - _ + / "
                "E621E1F8-C36C-495A-93FC-0C247A3E6E5F 00000000-0000-0000-0000-000000000000")
                .split(' ') +
            QList<QByteArray>{" ", "\t", "\n", "\r\n", QByteArray(1, '\0')};
        return list;
    }

    // The tokens that are JSON values, and a very long string.
    static const QList<QByteArray> &jsonTokens()
    {
        static const QList<QByteArray> list = [] {
            QList<QByteArray> values{'"' + QByteArray(10000, 'x') + '"'};
            for (const QByteArray &token : tokens()) {
                if (QJsonDocument::fromJson('[' + token + ']').isArray())
                    values.append(token);
            }
            return values;
        }();
        return list;
    }

    // One JSON value of the input (a string, number or literal, or an innermost array or object)
    // replaced by a value of another type or an extreme one, or removed; nothing when the input
    // has no such value.
    std::optional<QByteArray> mutateJson(const QByteArray &input)
    {
        static const QRegularExpression value(QStringLiteral(
            R"("(?:\\.|[^"\\])*"|-?\d[\d.eE+-]*|true|false|null|\[[^][{}]*\]|\{[^][{}]*\})"));
        const QString text = QString::fromUtf8(input);
        QList<QRegularExpressionMatch> matches;
        for (const QRegularExpressionMatch &match : value.globalMatch(text))
            matches.append(match);
        if (matches.isEmpty())
            return std::nullopt;
        const QRegularExpressionMatch &match = matches[below(matches.size())];
        const QByteArray replacement =
            chance(8) ? QByteArray() : jsonTokens()[below(jsonTokens().size())];
        return (text.left(match.capturedStart()) + QString::fromUtf8(replacement) +
                text.mid(match.capturedEnd()))
            .toUtf8();
    }

    const QByteArray &token() { return tokens()[below(tokens().size())]; }

    QByteArray mutateOnce(QByteArray input, const QList<QByteArray> &seeds)
    {
        const qsizetype size = input.size();
        const qsizetype at = below(size + 1);
        const qsizetype length = below(size - at + 1);
        switch (below(12)) {
        case 0: // flip one bit
            if (size > 0)
                input[at % size] = char(input[at % size] ^ (1 << below(8)));
            return input;
        case 1: // set one byte
            if (size > 0)
                input[at % size] = char(below(256));
            return input;
        case 2: // truncate
            return input.left(at);
        case 3: // delete a slice
            return input.remove(at, length);
        case 4: // duplicate a slice
            return input.insert(below(size + 1), input.mid(at, length));
        case 5: // insert a token
            return input.insert(at, token());
        case 6: // replace a slice by a token
            return input.replace(at, qMin<qsizetype>(length, 8), token());
        case 7: // a JSON value of another type or an extreme one
        case 8:
            return mutateJson(input).value_or(input.insert(at, token()));
        case 9: { // deep nesting
            static const int depths[] = {64, 1023, 1025, 5000};
            const int depth = depths[below(4)];
            if (chance(2))
                return QByteArray(depth, '[') + input + QByteArray(depth, ']');
            return QByteArray("{\"a\":").repeated(depth) + input + QByteArray(depth, '}');
        }
        case 10: // a very long run of one byte
            return input.insert(
                at, QByteArray(1000 + below(100000), chance(2) ? 'a' : char(below(256))));
        default: { // splice with another seed
            const QByteArray &other = seeds[below(seeds.size())];
            return input.left(at) + other.mid(below(other.size() + 1));
        }
        }
    }

    std::mt19937 m_random;
};

// --- transfer messages and frames -----------------------------------------------------------

// A parsed message written back the way a browser writes it: the fields of its kind only.
QJsonObject messageJson(const Incoming &message)
{
    using Kind = Incoming::Kind;
    const QMap<Kind, QString> types{{Kind::ready, "ready"},    {Kind::get, "get"},
                                    {Kind::getAll, "get-all"}, {Kind::put, "put"},
                                    {Kind::end, "end"},        {Kind::cancel, "cancel"}};
    QJsonObject object{{"t", types.value(message.kind)}};
    if (message.kind == Kind::ready) {
        object.insert("device", message.device);
        if (message.maxMessageSize)
            object.insert("maxMessageSize", *message.maxMessageSize);
        return object;
    }
    object.insert("tid", qint64(message.tid));
    if (message.kind == Kind::get)
        object.insert("id", uuidText(message.itemID));
    if (message.kind == Kind::put) {
        object.insert("name", message.name);
        // Sizes past the signed range are whole doubles (the parser reads them as such).
        object.insert("size", message.size <= quint64(std::numeric_limits<qint64>::max())
                                  ? QJsonValue(qint64(message.size))
                                  : QJsonValue(double(message.size)));
    }
    return object;
}

Target transferMessages()
{
    Target target;
    target.seeds = {
        R"({"t":"ready","maxMessageSize":262144,"device":"휴대폰 / Safari"})",
        R"({"t":"get","tid":7,"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"})",
        R"({"t":"get-all","tid":4294967295})",
        R"({"t":"put","tid":3,"name":"사진 1.jpg","size":18446744073709549568})",
        R"({"t":"end","tid":12})",
        R"({"t":"cancel","tid":1,"extra":[1,{"x":null}]})",
    };
    target.check = [](const QByteArray &input) -> Outcome {
        const Incoming message = TransferProtocol::parse(input);
        if (TransferProtocol::parse(QString::fromUtf8(input)) != message)
            return broken(QStringLiteral("bytes and text read differently"));
        if (message.kind == Incoming::Kind::unknown)
            return message == Incoming::unknown()
                       ? rejected
                       : broken(QStringLiteral("an unknown message carries values"));
        // Written back with the fields of its kind only, it reads the same: no field of another
        // kind carries a value.
        const QString written = TransferProtocol::encode(messageJson(message));
        if (TransferProtocol::parse(written) != message)
            return broken(QStringLiteral("the message written back reads differently: ") +
                          written.left(300));
        return accepted;
    };
    return target;
}

// --- the state file ---------------------------------------------------------------------------

// The stored snapshots of a state file's JSON in the order of the state's lists; of the recent
// ones, those that hold items, up to the list's capacity.
QList<QJsonObject> storedSnapshots(const QByteArray &input)
{
    const QJsonObject root = QJsonDocument::fromJson(input).object();
    QList<QJsonObject> snapshots;
    const auto collect = [&snapshots](const QJsonValue &list, bool recent) {
        qsizetype kept = 0;
        for (const QJsonValue &snapshot : list.toArray()) {
            if (recent && (snapshot[QStringLiteral("items")].toArray().isEmpty() ||
                           kept == RecentShelves::capacity))
                continue;
            snapshots.append(snapshot.toObject());
            ++kept;
        }
    };
    collect(root.value(QStringLiteral("open")), false);
    collect(root.value(QStringLiteral("recent")).toObject().value(QStringLiteral("snapshots")),
            true);
    collect(root.value(QStringLiteral("pinned")), false);
    return snapshots;
}

QList<ShelfSnapshot> allSnapshots(const ShelfPersistence::State &state)
{
    return state.open + state.recent.snapshots + state.pinned;
}

// Whether a read closing date is the moment its stored seconds since 2001-01-01 name.
bool closingDateMatches(const QDateTime &date, double storedSeconds)
{
    if (!date.isValid())
        return false;
    const double expected = double(referenceDateMilliseconds) + storedSeconds * 1000.0;
    const double read = double(date.toMSecsSinceEpoch());
    return std::abs(read - expected) <= 1.0 + std::abs(expected) * 1e-15;
}

Target stateFiles()
{
    Target target;
    const QByteArray bookmarkText =
        QByteArray(R"({"dev":"2049","dir":false,"ino":"131","path":"/tmp/a b.txt","v":1})")
            .toBase64();
    target.seeds = {
        QByteArray(R"({"version":1,"open":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F",)"
                   R"("title":"보관함","name":"보관함","color":"blue",)"
                   R"("pinID":"5B1B5A4E-7F3E-4C1A-9C3B-2A1D0E9F8C7B",)"
                   R"("frame":[[-100,20.5],[260,340]],"closedAt":788918400.25,"items":[)"
                   R"({"kind":"text","text":"메모\nline"},)"
                   R"({"kind":"link","url":"https://xn--3e0b707e.kr/%EA%B2%BD%EB%A1%9C?q=1"},)"
                   R"({"kind":"file","url":"file:///tmp/a%20b.txt","bookmark":")") +
            bookmarkText +
            QByteArray(R"("},{"kind":"image","url":"file:///tmp/c.png"}]}],)"
                       R"("recent":{"snapshots":[{"id":"00000000-0000-0000-0000-000000000000",)"
                       R"("title":"t","items":[{"kind":"text","text":"x"}],"closedAt":-3.5}]},)"
                       R"("pinned":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5E","title":"",)"
                       R"("items":[],"color":"none"}]})"),
        QByteArray("{}"),
        QByteArray(R"({"version":2,"recent":{"snapshots":[]}})"),
    };
    target.check = [](const QByteArray &input) -> Outcome {
        QString error;
        const std::optional<ShelfPersistence::State> state =
            ShelfPersistence::decode(input, &error);
        if (!state)
            return error.isEmpty() ? broken(QStringLiteral("refused without a reason")) : rejected;

        // Closing dates are the moments their stored seconds name.
        const QList<QJsonObject> stored = storedSnapshots(input);
        const QList<ShelfSnapshot> read = allSnapshots(*state);
        if (stored.size() != read.size())
            return broken(QStringLiteral("%1 snapshots read from %2 stored")
                              .arg(read.size())
                              .arg(stored.size()));
        for (qsizetype i = 0; i < read.size(); ++i) {
            const QJsonValue closedAt = stored[i].value(QStringLiteral("closedAt"));
            if (closedAt.isUndefined() != !read[i].closedAt)
                return broken(QStringLiteral("a closing date appeared or vanished"));
            if (read[i].closedAt && !closingDateMatches(*read[i].closedAt, closedAt.toDouble()))
                return broken(QStringLiteral("closedAt %1 read as %2 ms since 1970")
                                  .arg(closedAt.toDouble(), 0, 'g', 17)
                                  .arg(read[i].closedAt->toMSecsSinceEpoch()));
        }

        // What was accepted is saved and read again unchanged.
        const QByteArray encoded = ShelfPersistence::encode(*state);
        QString again;
        const std::optional<ShelfPersistence::State> reread =
            ShelfPersistence::decode(encoded, &again);
        if (!reread)
            return broken(QStringLiteral("the saved state is refused: ") + again);
        if (*reread != *state)
            return broken(QStringLiteral("the saved state reads differently: ") +
                          QString::fromUtf8(encoded.left(600)));
        return accepted;
    };
    return target;
}

// --- vyoshelf: addresses ----------------------------------------------------------------------

Target shelfAddresses()
{
    // run-test.sh points HOME at a fresh folder.
    const QString home = QDir::homePath();
    test::writeFile(home + QStringLiteral("/퍼즈 폴더/a b.txt"), "a");
    Target target;
    const QByteArray folder = QUrl::toPercentEncoding(home + QStringLiteral("/퍼즈 폴더"), "/");
    target.seeds = {
        "vyoshelf://new",
        "VyoShelf://ReOpen",
        "vyoshelf://new/x?y=1#z",
        "vyoshelf://add?path=~/%ED%8D%BC%EC%A6%88%20%ED%8F%B4%EB%8D%94/a%20b.txt&path=" + folder,
        "VYOSHELF://ADD?path=" + folder + "/a%20b.txt&path=/no/such&file=x",
    };
    target.check = [](const QByteArray &input) -> Outcome {
        const QString text = QString::fromUtf8(input);
        const URLCommand command = URLCommand::parse(text);
        using Kind = URLCommand::Kind;
        if (command.kind != Kind::add && !command.files.isEmpty())
            return broken(QStringLiteral("files on a command that is not add"));
        if (command.kind == Kind::invalid)
            return rejected;
        if (!URLCommand::looksLikeSchemeURL(text))
            return broken(QStringLiteral("a command from an address not taken for ours"));
        if (command.kind == Kind::add && command.files.isEmpty())
            return broken(QStringLiteral("add without files"));
        for (const QUrl &url : command.files) {
            const QString path = url.toLocalFile();
            if (!url.isLocalFile() || !QDir::isAbsolutePath(path) ||
                path.split(u'/').contains(QStringLiteral("..")) || !QFileInfo::exists(path))
                return broken(QStringLiteral("add names a file it should not: ") + url.toString());
        }
        return accepted;
    };
    return target;
}

// --- watched folders --------------------------------------------------------------------------

Target watchedFolders()
{
    Target target;
    target.seeds = {
        R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","path":"/home/u/스크린샷","isEnabled":true},)"
        R"({"id":"5b1b5a4e-7f3e-4c1a-9c3b-2a1d0e9f8c7b","path":"","isEnabled":false}])",
        "[]",
        R"([{"isEnabled":true,"path":"/","id":"00000000-0000-0000-0000-000000000000","x":1}])",
    };
    target.check = [](const QByteArray &input) -> Outcome {
        const std::optional<QList<WatchedFolder>> folders = WatchedFolder::decodeList(input);
        if (!folders)
            return rejected;
        const QByteArray encoded = WatchedFolder::encodeList(*folders);
        if (WatchedFolder::decodeList(encoded) != folders)
            return broken(QStringLiteral("the stored list reads differently: ") +
                          QString::fromUtf8(encoded.left(600)));
        return accepted;
    };
    return target;
}

} // namespace

class TestFuzz : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void mutations_data();
    void mutations();
    void regressions_data();
    void regressions();

private:
    Target target(const QString &parser);
};

Target TestFuzz::target(const QString &parser)
{
    const QHash<QString, std::function<Target()>> targets{
        {QStringLiteral("transfer message"), transferMessages},
        {QStringLiteral("vyoshelf address"), shelfAddresses},
        {QStringLiteral("state file"), stateFiles},
        {QStringLiteral("watched folders"), watchedFolders},
    };
    return targets.contains(parser) ? targets[parser]() : Target();
}

void TestFuzz::mutations_data()
{
    QTest::addColumn<QString>("parser");
    QTest::addColumn<std::uint32_t>("salt");
    std::uint32_t salt = 0;
    for (const char *parser :
         {"transfer message", "state file", "vyoshelf address", "watched folders"})
        QTest::newRow(parser) << QString::fromLatin1(parser) << ++salt;
}

void TestFuzz::mutations()
{
    QFETCH(QString, parser);
    QFETCH(std::uint32_t, salt);
    const Target target = this->target(parser);
    QVERIFY2(!target.seeds.isEmpty() && target.check, qPrintable(parser));

    // The valid inputs are accepted and keep their invariants.
    for (const QByteArray &seed : target.seeds) {
        const Outcome outcome = quietly(target, seed);
        QVERIFY2(outcome.problem.isEmpty(),
                 qPrintable(outcome.problem + QStringLiteral("\ninput: ") + describe(seed)));
        QVERIFY2(outcome.accepted, qPrintable(QStringLiteral("seed refused: ") + describe(seed)));
    }

    Mutator mutator(generatorSeed + salt * 2654435761u);
    QElapsedTimer timer;
    timer.start();
    int count = 0;
    int rejectedCount = 0;
    QByteArray previous;
    for (; count < maximumMutations; ++count) {
        if (count >= minimumMutations && timer.hasExpired(rowBudgetMilliseconds))
            break;
        const QByteArray input = mutator.mutate(target.seeds, previous);
        const Outcome outcome = quietly(target, input);
        if (!outcome.problem.isEmpty()) {
            // The whole input, for a regression row (test messages are cut short).
            std::fprintf(stderr, "failing input: %s\nbase64: %s\n", qPrintable(describe(input)),
                         input.toBase64().constData());
            QFAIL(qPrintable(QStringLiteral("mutant %1: %2").arg(count).arg(outcome.problem)));
        }
        rejectedCount += outcome.accepted ? 0 : 1;
        previous = input;
    }
    // The mutations reach the decoder's refusals, not only its happy path.
    QVERIFY(rejectedCount > 0);
}

void TestFuzz::regressions_data()
{
    QTest::addColumn<QString>("parser");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("empty message") << "transfer message" << QByteArray() << false;

    // Mutants that once broke an invariant, each in a state file of one snapshot.
    const auto state = [](const QByteArray &item, const QByteArray &closedAt) -> QByteArray {
        return R"({"open":[{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","title":"t",)" +
               (closedAt.isEmpty() ? QByteArray() : "\"closedAt\":" + closedAt + ',') +
               "\"items\":[" + item + "]}]}";
    };
    const QByteArray text = R"({"kind":"text","text":"x"})";
    // Saved back as "" (the link was lost); now refused.
    QTest::newRow("link that does not parse")
        << "state file" << state(R"({"kind":"link","url":"https://xn--3e0b707e.kr/%EB%A@"})", {})
        << false;
    // Parsed, but written back as other bytes; now refused.
    QTest::newRow("file address with a lone surrogate")
        << "state file" << state(R"({"kind":"file","url":"\ud800"})", {}) << false;
    // Read as a date 292 million years before 1970 (the milliseconds overflowed); now refused.
    QTest::newRow("closedAt below the 64-bit range")
        << "state file" << state(text, "-9223372036854775807") << false;
    QTest::newRow("closedAt far out") << "state file" << state(text, "1e300") << false;
    // The milliseconds fit, but not with the 2001 offset added: a signed overflow.
    QTest::newRow("closedAt at the edge of the range")
        << "state file" << state(text, "9223372036000000") << false;
    QTest::newRow("closedAt at the largest accepted")
        << "state file" << state(text, "9e15") << true;
    QTest::newRow("closedAt at the smallest accepted")
        << "state file" << state(text, "-9e15") << true;
    // A path starting "///" became the address "file://" with no path at all.
    QTest::newRow("add path with three slashes")
        << "vyoshelf address"
        << QByteArray("vyoshelf://add?path=//" +
                      QUrl::toPercentEncoding(
                          QDir::homePath() + QStringLiteral("/퍼즈 폴더/a b.txt"), "/"))
        << true;
}

void TestFuzz::regressions()
{
    QFETCH(QString, parser);
    QFETCH(QByteArray, input);
    QFETCH(bool, accepted);
    const Target target = this->target(parser);
    QVERIFY(target.check);
    const Outcome outcome = quietly(target, input);
    QVERIFY2(outcome.problem.isEmpty(), qPrintable(outcome.problem));
    QCOMPARE(outcome.accepted, accepted);
}
QTEST_GUILESS_MAIN(TestFuzz)
#include "tst_fuzz.moc"
