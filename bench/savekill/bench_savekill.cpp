// Saves the state file over and over, for bench/savekill.sh to kill at random moments.
//
//   bench_savekill save FILE        saves states M + 1, M + 2, … to FILE, where M is the state
//                                   FILE holds (none: -1), printing "saving N" before each
//   bench_savekill check FILE N     exit status 0 when FILE holds state N - 1 or N exactly and,
//                                   after start-up's clean-up, its folder holds nothing else;
//                                   prints "leftover" when a temporary file was there before it

#include "shelf/ShelfPersistence.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cstdio>

using namespace vyo;

namespace {

// State N: one open shelf of 200 texts naming N, a few tens of kilobytes, so that a save takes
// long enough to be killed in the middle.
ShelfPersistence::State stateNumber(qint64 n)
{
    ShelfSnapshot shelf;
    shelf.id = QUuid::fromString(QStringLiteral("{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"));
    shelf.title = QStringLiteral("저장 %1").arg(n);
    for (int i = 0; i < 200; ++i)
        shelf.items.append(StoredItem{StoredItem::Kind::text,
                                      std::nullopt,
                                      QStringLiteral("상태 %1, 항목 %2 ").arg(n).arg(i).repeated(4),
                                      {}});
    ShelfPersistence::State state;
    state.open = {shelf};
    return state;
}

// The number of the state in the file, -1 when there is none.
qint64 stateInFile(const QString &file)
{
    QFile input(file);
    if (!input.open(QIODevice::ReadOnly))
        return -1;
    QString error;
    const auto state = ShelfPersistence::decode(input.readAll(), &error);
    if (!state || state->open.isEmpty())
        return -1;
    return state->open.first().title.section(u' ', 1).toLongLong();
}

int save(const QString &file)
{
    const ShelfPersistence persistence(file);
    for (qint64 n = stateInFile(file) + 1;; ++n) {
        std::printf("saving %lld\n", static_cast<long long>(n));
        std::fflush(stdout);
        QString error;
        if (!persistence.save(stateNumber(n), &error)) {
            std::fprintf(stderr, "save failed: %s\n", qPrintable(error));
            return 1;
        }
    }
}

int check(const QString &file, qint64 n)
{
    QFile input(file);
    // Killed during the very first save: there was no state before it.
    if (n == 0 && !input.exists())
        return 0;
    if (!input.open(QIODevice::ReadOnly)) {
        std::printf("unreadable: %s\n", qPrintable(input.errorString()));
        return 1;
    }
    QString error;
    const auto state = ShelfPersistence::decode(input.readAll(), &error);
    if (!state) {
        std::printf("does not parse: %s\n", qPrintable(error));
        return 1;
    }
    if (*state != stateNumber(n) && *state != stateNumber(n - 1)) {
        std::printf("neither state %lld nor the one before\n", static_cast<long long>(n));
        return 1;
    }
    const auto entries = [&file] {
        return QFileInfo(file).dir().entryList(QDir::AllEntries | QDir::Hidden |
                                               QDir::NoDotAndDotDot);
    };
    if (entries().size() > 1)
        std::printf("leftover\n");
    ShelfPersistence(file).loadAtLaunch();
    const QStringList others = entries();
    if (others != QStringList{QFileInfo(file).fileName()}) {
        std::printf("left behind: %s\n", qPrintable(others.join(u", ")));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.size() == 3 && arguments[1] == u"save")
        return save(arguments[2]);
    if (arguments.size() == 4 && arguments[1] == u"check")
        return check(arguments[2], arguments[3].toLongLong());
    std::fprintf(stderr, "usage: bench_savekill save FILE | check FILE N\n");
    return 2;
}
