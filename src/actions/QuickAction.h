#pragma once

// Quick actions: six one-click operations on the file items of a shelf (convert images to JPEG,
// shrink them to a long side of 2048, 1280 or 800 pixels, read the text in an image, merge images
// and PDFs into one PDF). An action never modifies its inputs; it writes its results into fresh
// folders of the items directory and hands back new files or a text.

#include "shelf/ShelfItem.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace vyo {

namespace QuickActions {

// Why an action failed, with the message the user sees.
class ActionError
{
public:
    enum class Case { unreadable, alreadySmall, noText, writeFailed };

    // The file (named by its last path component) cannot be read as an image.
    static ActionError unreadable(const QString &fileName) { return {Case::unreadable, fileName}; }
    // The image is not larger than the size it should be shrunk to.
    static ActionError alreadySmall(const QString &fileName)
    {
        return {Case::alreadySmall, fileName};
    }
    // The image holds no recognisable text.
    static ActionError noText() { return {Case::noText, {}}; }
    // The result file could not be written.
    static ActionError writeFailed() { return {Case::writeFailed, {}}; }

    Case kind() const { return m_case; }
    // The input file's name for unreadable and alreadySmall; empty otherwise.
    const QString &fileName() const { return m_fileName; }
    // The Korean message shown in the shelf.
    QString description() const;

    friend bool operator==(const ActionError &, const ActionError &) = default;

private:
    ActionError(Case kind, QString fileName)
        : m_case(kind)
        , m_fileName(std::move(fileName))
    {}

    Case m_case;
    QString m_fileName;
};

} // namespace QuickActions

class QuickAction
{
public:
    enum Case { convertToJPEG, resize2048, resize1280, resize800, extractText, mergePDF };

    constexpr QuickAction(Case value)
        : m_case(value)
    {}
    constexpr operator Case() const { return m_case; }

    // Every action, in the order the quick-action menus list them.
    static const QList<QuickAction> &allCases();

    QString title() const;
    // What the shelf's status line shows while the action runs.
    QString progressText() const;
    // The long side in pixels of the three shrink actions; nothing for the others.
    std::optional<int> longSide() const;

    // The result of a successful run: new files (in input order) or a recognised text.
    class Output
    {
    public:
        enum class Kind { files, text };

        static Output files(QList<QUrl> urls) { return {Kind::files, std::move(urls), {}}; }
        static Output text(QString text) { return {Kind::text, {}, std::move(text)}; }

        Kind kind() const { return m_kind; }
        const QList<QUrl> &fileURLs() const { return m_files; }
        const QString &text() const { return m_text; }

    private:
        Output(Kind kind, QList<QUrl> files, QString text)
            : m_kind(kind)
            , m_files(std::move(files))
            , m_text(std::move(text))
        {}

        Kind m_kind;
        QList<QUrl> m_files;
        QString m_text;
    };

    // What a run ends with: its output, an action error, or an underlying error (the output
    // folder could not be made, the text recognizer could not be started) with its own
    // description.
    class Result
    {
    public:
        Result(Output output)
            : m_output(std::move(output))
        {}
        Result(QuickActions::ActionError error)
            : m_actionError(std::move(error))
        {}
        static Result underlyingError(const QString &description);

        bool succeeded() const { return m_output.has_value(); }
        // The output of a successful run (an empty file list for a failed one).
        const Output &output() const;
        // The action error of a run that failed with one.
        const std::optional<QuickActions::ActionError> &actionError() const
        {
            return m_actionError;
        }
        // The message of a failed run; empty for a successful one.
        QString errorDescription() const;

    private:
        Result() = default;

        std::optional<Output> m_output;
        std::optional<QuickActions::ActionError> m_actionError;
        QString m_underlyingError;
    };

    friend constexpr bool operator==(QuickAction a, QuickAction b) { return a.m_case == b.m_case; }

private:
    Case m_case;
};

namespace QuickActions {

// Classification by the file name's extension only; the contents are not looked at. An image's
// type has the "image/" prefix and is not PDF; a PDF's type is PDF (or inherits it). A file
// whose extension has no known type is neither.
bool isImage(const QUrl &file);
bool isPDF(const QUrl &file);

// The files an action runs on: the URLs of the file and image items whose file exists now, in
// item order. Links and texts never take part.
QList<QUrl> candidateFiles(const QList<ShelfItem> &items);

// Whether the action applies to the items: the JPEG and shrink actions need at least one image,
// text extraction exactly one, the merge at least two files that are PDFs or images.
bool isApplicable(const QList<ShelfItem> &items, QuickAction action);
bool isApplicable(const QList<QUrl> &files, QuickAction action);

// How many of the files a run has done, of how many: called on the running thread when each file
// has been done (JPEG and shrink actions, which work file by file).
using Progress = std::function<void(int done, int total)>;

// Runs the action on the candidate files. It blocks until done, touches no model object and may
// run on any thread: callers run it in the background.
QuickAction::Result perform(QuickAction action, const QList<QUrl> &files,
                            const Progress &progress = {});

} // namespace QuickActions

} // namespace vyo
