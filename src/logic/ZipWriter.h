#pragma once

// Writes ZIP archives whose file names come out right on Windows: every name in precomposed
// Unicode (NFC), stored as UTF-8 with the UTF-8 flag (bit 11), made of names Windows accepts,
// unique ignoring letter case and short enough for Windows' extractor. Already-compressed formats
// are stored, everything else is deflated. Files stream through in 1 MiB chunks, each read once, so
// archives of gigabytes never sit in memory; deflating uses every core (see write). Classic ZIP
// only (no ZIP64, no data descriptors): at most 4 GB and 65,535 entries. Plain logic over files,
// meant to run away from the main thread.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace vyo {

class ZipWriter
{
public:
    // One entry of an archive: its name inside the archive ("/"-separated, NFC, a folder's name
    // ends with "/") and the file whose bytes become its data (none for a folder).
    struct Entry
    {
        QString path;
        std::optional<QUrl> source;

        friend bool operator==(const Entry &, const Entry &) = default;
    };

    // The writer's own failures, each with its message for the user.
    class ZipError
    {
    public:
        enum class Code { unreadable, tooLarge, cancelled };

        // The source file cannot be opened or read.
        static ZipError unreadable(const QUrl &source)
        {
            return ZipError(Code::unreadable, source);
        }
        // A size, offset, name or entry count does not fit the format's fields.
        static ZipError tooLarge() { return ZipError(Code::tooLarge, {}); }
        // The progress callback asked to stop.
        static ZipError cancelled() { return ZipError(Code::cancelled, {}); }

        Code code() const { return m_code; }
        // The unreadable file; empty otherwise.
        const QUrl &source() const { return m_source; }
        // "a.pdf 파일을 읽을 수 없습니다.", "ZIP은 4GB까지 만들 수 있습니다." or "취소했습니다."
        QString description() const;

        friend bool operator==(const ZipError &, const ZipError &) = default;

    private:
        ZipError(Code code, QUrl source)
            : m_code(code)
            , m_source(std::move(source))
        {}

        Code m_code;
        QUrl m_source;
    };

    // Why an archive could not be written: one of the writer's own errors, or a failure of the
    // operating system (creating, writing, seeking, closing) with the system's own description.
    class Failure
    {
    public:
        Failure(ZipError error)
            : m_zipError(std::move(error))
        {}
        static Failure system(const QString &description) { return Failure(description); }

        const std::optional<ZipError> &zipError() const { return m_zipError; }
        QString description() const
        {
            return m_zipError ? m_zipError->description() : m_systemDescription;
        }

    private:
        explicit Failure(const QString &description)
            : m_systemDescription(description)
        {}

        std::optional<ZipError> m_zipError;
        QString m_systemDescription;
    };

    // The largest size or offset a classic ZIP field holds, and the largest entry count and name
    // length.
    static constexpr quint64 maximumSize = 0xFFFFFFFF;
    static constexpr qsizetype maximumEntries = 65535;
    static constexpr qsizetype maximumNameLength = 65535;
    // Bytes read from a source at a time, and the compressor's output block.
    static constexpr qint64 readChunkSize = 1024 * 1024;
    static constexpr qsizetype compressedBlockSize = 65536;

    // The 31 lower-case extensions whose entries are stored without compression.
    static const QSet<QString> &storedExtensions();

    // The DOS time (low 16 bits) and date (high 16 bits) of a moment in the local time zone. Years
    // before 1980 keep month and day with year field 0; moments from 2108 on, which the 7-bit
    // year field cannot hold, become the last representable moment, 2107-12-31 23:59:58. An
    // invalid moment counts as 1980-01-01 00:00:00.
    static quint32 dosDateTime(const QDateTime &date);

    // `name` if it is not among `used`, otherwise the first free "base (n).ext" (or "name (n)"
    // without an extension) for n = 2, 3, …
    static QString uniqueName(const QString &name, const QSet<QString> &used);

    // The name Windows accepts for one path component: the characters it refuses become
    // full-width look-alikes (＜ ＞ ： ＂ ＼ ｜ ？ ＊) and control characters "_", trailing dots
    // and spaces go ("_" if nothing is left), and reserved device names (CON, PRN, AUX, NUL,
    // COM1–COM9, LPT1–LPT9, with any extension) get a leading "_".
    static QString windowsName(const QString &name);

    // The longest entry path, in UTF-16 units. Windows' extractor refuses paths longer than 260
    // characters, the folder it extracts into included ("C:\Users\<name>\Downloads\<archive>\"
    // takes about 40 to 60); the rest is left for that folder.
    static constexpr qsizetype maximumPathLength = 200;

    // The archive name of a file or folder named `fileName` inside the folder entry `parent`
    // (without its "/"; empty at the top): NFC, windowsName, shortened to keep the whole path
    // within maximumPathLength (the extension kept), and unique among `used`, which holds the
    // case-folded names taken in that folder, as Windows compares them; the name is added to it.
    static QString entryName(const QString &fileName, const QString &parent, QSet<QString> *used);

    // The entries for files and folders, in the given order: unique entryName names, folders
    // descended depth first with hidden files skipped. Never fails; missing items are skipped.
    static QList<Entry> makeEntries(const QList<QUrl> &urls);

    // How far a write has come, and whether it should go on: called on the writing thread after
    // every chunk read, with the bytes read so far of the sources' total (their sizes when the
    // write began). Answering false cancels the write.
    using Progress = std::function<bool(quint64 bytesRead, quint64 totalBytes)>;

    // Writes the entries to the destination file (created or truncated). Nothing on success. On
    // failure (a cancel included) the partly written file stays for the caller to remove.
    //
    // Deflated entries are compressed ahead on `compressionThreads` threads (0: one per core, up
    // to 8) while this thread writes the archive in order and copies the stored entries; with one
    // thread everything streams straight through this one. The archive is the same either way.
    // At most two entries per thread are in flight, each keeping up to 4 MiB of compressed output
    // in memory and the rest in an unnamed temporary file beside the archive (gone when closed):
    // each thread also keeps a read chunk, an output block and a compressor (about 1.3 MiB), so
    // with 2 threads the writer holds at most about 2 × 2 × 4 + 3 × 1.3 ≈ 20 MiB, whatever the
    // sources' sizes.
    [[nodiscard]] static std::optional<Failure> write(const QList<Entry> &entries,
                                                      const QUrl &destination,
                                                      const Progress &progress = {},
                                                      int compressionThreads = 0);

    // makeEntries followed by write: what the export and the share downloads run.
    [[nodiscard]] static std::optional<Failure>
    writeArchive(const QList<QUrl> &urls, const QUrl &destination, const Progress &progress = {});

    // The bookkeeping of one archive apart from the file it goes to: where each local header
    // starts, the header bytes, the central directory kept in memory, and every 32-bit limit. The
    // writer feeds it the real sizes; it can be fed any sizes, which is how the 4 GB limits are
    // checked without writing gigabytes.
    class CentralDirectory
    {
    public:
        // Where the next local header goes: the current length of the archive.
        quint64 offset() const { return m_offset; }
        qsizetype entryCount() const { return m_count; }

        // Starts an entry at offset() and answers its local header, with CRC and sizes 0 until
        // the entry ends; tooLarge when the offset or the name does not fit.
        std::optional<ZipError> beginEntry(const QByteArray &name, quint16 method,
                                           quint32 dosDateTime, bool isFolder,
                                           QByteArray *localHeader);
        // Where the entry's CRC and sizes are patched (its local header offset + 14).
        quint64 patchOffset() const { return m_entryOffset + 14; }
        // Ends the entry begun last with its final values: answers the 12 bytes to patch at
        // patchOffset() and moves offset() past the entry's data; tooLarge when a size does not
        // fit.
        std::optional<ZipError> endEntry(quint32 crc, quint64 compressedSize,
                                         quint64 uncompressedSize, QByteArray *patch);
        // The central directory followed by the end record; tooLarge for more than 65,535
        // entries, or a directory whose offset or size does not fit.
        std::optional<ZipError> finish(QByteArray *tail) const;

    private:
        QByteArray m_records;
        quint64 m_offset = 0;
        quint64 m_entryOffset = 0;
        QByteArray m_entryName;
        quint16 m_entryMethod = 0;
        quint32 m_entryDateTime = 0;
        bool m_entryIsFolder = false;
        qsizetype m_count = 0;
    };
};

} // namespace vyo
