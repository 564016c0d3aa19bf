#pragma once

// The application a drop comes from, asked for more than the dropped data Qt hands over: a file it
// saves where Vyo asks (X Direct Save, the X11 form of a file promise), and one data type read
// with a bounded wait, away from the main thread (a source may stall on large data, and Qt's own
// read would freeze the windows for seconds). Asked on the main thread while a drop is handled:
// sources drop their data soon after the drop ends.

#include <QByteArray>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace vyo {

class DropSource
{
public:
    // What the source answered to "save the file here".
    enum class SaveAnswer {
        notAsked, // no save path was given
        saved,    // "S": it writes the file (possibly still writing when this arrives)
        fallBack, // "F": it writes nothing; read its data instead
        failed,   // "E", or a refusal
        noAnswer, // nothing within the time-out, or no source to ask
    };

    struct Request
    {
        // Where the source should save; empty: do not ask for a direct save.
        QString savePath;
        // The type read when no file was saved (empty: none), and the most bytes taken of it.
        QString dataType;
        qint64 maximumBytes = 0;
        // For each of the two questions.
        std::chrono::milliseconds timeout{1500};
    };

    struct Result
    {
        SaveAnswer answer = SaveAnswer::notAsked;
        // The bytes of the requested type; empty when they did not come.
        QByteArray data;
        // Why the save or the data failed, in Korean, for the log.
        QString error;
    };

    virtual ~DropSource();

    // The file name the source of the drop being handled suggests for a direct save; nothing when
    // it offers none.
    virtual std::optional<QString> suggestedName() = 0;

    // Asks the source of the drop being handled; `done` runs once on the main thread, also when
    // there is nothing to ask. Sources stop answering once a drop is over, so this returns only
    // when the source has given its first answers (or the time-out passed), keeping the event
    // loop turning meanwhile; the rest (a file still being written, data sent in pieces) comes
    // later.
    virtual void receive(const Request &request, std::function<void(const Result &)> done) = 0;
};

} // namespace vyo
