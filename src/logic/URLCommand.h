#pragma once

// Commands of the application's own URL scheme:
//   vyoshelf://new                         a new empty shelf beside the pointer
//   vyoshelf://reopen                      the most recently closed shelf
//   vyoshelf://add?path=~/a.pdf&path=/b    a new shelf holding each existing file
// Scheme and host are compared case-insensitively; everything else is invalid.

#include <QList>
#include <QString>
#include <QUrl>

namespace vyo {

struct URLCommand
{
    enum class Kind { newShelf, reopen, add, invalid };

    Kind kind = Kind::invalid;
    QList<QUrl> files; // for add: existing files, in the order given

    static constexpr auto scheme = "vyoshelf";

    static URLCommand parse(const QUrl &url);
    // Parses a URL as given on the command line or forwarded by a second process, as typed:
    // raw spaces and other characters that should have been encoded are accepted.
    static URLCommand parse(const QString &text);

    // Whether a command-line argument is meant as one of our URLs (whatever its command).
    static bool looksLikeSchemeURL(const QString &argument);
};

} // namespace vyo
