#include "logic/ZipWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace vyo {

namespace {

constexpr quint32 localHeaderSignature = 0x04034B50;
constexpr quint32 centralRecordSignature = 0x02014B50;
constexpr quint32 endRecordSignature = 0x06054B50;
constexpr quint16 versionNeeded = 20;
// Unix host (3), format version 2.0.
constexpr quint16 versionMadeBy = 0x0314;
// Bit 11: the name is UTF-8. Never bit 3: sizes are patched into the local header instead.
constexpr quint16 utf8Flag = 0x0800;
// Unix drwxr-xr-x plus the MS-DOS directory bit; Unix -rw-r--r-- with no MS-DOS bits.
constexpr quint32 folderAttributes = 0x41ED0010;
constexpr quint32 fileAttributes = 0x81A40000;
constexpr quint16 methodStored = 0;
constexpr quint16 methodDeflated = 8;
constexpr qsizetype localHeaderLength = 30;
// Where a local header holds the CRC-32 and both sizes.
constexpr qsizetype patchOffsetInHeader = 14;

// The last moment a DOS date holds: 2107-12-31 23:59:58.
constexpr quint32 latestDosDateTime =
    (quint32(127 * 512 + 12 * 32 + 31) << 16) | quint32(23 * 2048 + 59 * 32 + 58 / 2);

void appendLE16(QByteArray &bytes, quint16 value)
{
    bytes.append(char(value & 0xFF));
    bytes.append(char(value >> 8));
}

void appendLE32(QByteArray &bytes, quint32 value)
{
    appendLE16(bytes, quint16(value & 0xFFFF));
    appendLE16(bytes, quint16(value >> 16));
}

// Whether an entry's data goes in without compression: its extension, lower-cased, is one of the
// already-compressed formats.
bool isStored(const QString &path)
{
    const QString name = path.section(u'/', -1);
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot >= 0 && ZipWriter::storedExtensions().contains(name.mid(dot + 1).toLower());
}

QString nfc(const QString &text)
{
    return text.normalized(QString::NormalizationForm_C);
}

// Adds the folder's contents below the entry `name`, depth first: each folder entry is followed
// by its own contents before the next sibling. Hidden files and folders are skipped, as are
// special files (pipes, sockets, devices), which would block or never end when read. A link to a
// file brings the file. A link to a folder outside the archived folder brings that folder's
// contents; a link into the archived folder (its contents come through their real place) or to a
// folder already archived (a loop) stays a folder entry without contents.
void addFolderContents(const QString &folder, const QString &name, QList<ZipWriter::Entry> &entries)
{
    struct Frame
    {
        QFileInfoList children;
        qsizetype next = 0;
        QSet<QString> usedNames;
        QString entryPath;
    };
    const auto frame = [](const QString &path, const QString &entryPath) {
        return Frame{
            QDir(path).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot, QDir::Name),
            0,
            {},
            entryPath};
    };

    const QString root = QFileInfo(folder).canonicalFilePath();
    const auto isInsideRoot = [&root](const QString &canonical) {
        return canonical == root || canonical.startsWith(root + u'/') || root == u"/";
    };
    QSet<QString> visitedFolders{root};
    std::vector<Frame> stack;
    stack.push_back(frame(folder, name));
    while (!stack.empty()) {
        Frame &current = stack.back();
        if (current.next == current.children.size()) {
            stack.pop_back();
            continue;
        }
        const QFileInfo child = current.children[current.next++];
        // Two names that differ only in their Unicode form or letter case, or that Windows'
        // rules made equal, are one name on Windows; keep both.
        const QString childName =
            ZipWriter::entryName(child.fileName(), current.entryPath, &current.usedNames);
        const QString entryPath = current.entryPath + u'/' + childName;
        if (child.isDir()) {
            entries.append({entryPath + u'/', std::nullopt});
            const QString canonical = child.canonicalFilePath();
            const bool descend = !canonical.isEmpty() && !visitedFolders.contains(canonical) &&
                                 !(child.isSymLink() && isInsideRoot(canonical));
            if (descend) {
                visitedFolders.insert(canonical);
                stack.push_back(frame(child.filePath(), entryPath)); // `current` is stale now
            }
        } else if (child.isFile()) {
            entries.append({entryPath, QUrl::fromLocalFile(child.filePath())});
        }
    }
}

// Device and inode, to recognise the archive among its own sources.
struct FileIdentity
{
    dev_t device = 0;
    ino_t inode = 0;
    bool valid = false;

    bool operator==(const FileIdentity &other) const
    {
        return valid && other.valid && device == other.device && inode == other.inode;
    }
};

FileIdentity identityOf(int descriptor)
{
    struct stat status
    {};
    if (descriptor < 0 || ::fstat(descriptor, &status) != 0)
        return {};
    return {status.st_dev, status.st_ino, true};
}

// What the writer needs to know of a source before reading it, from one stat call: whether it is
// the archive itself, and its modification date (invalid when it cannot be read).
struct SourceStatus
{
    FileIdentity identity;
    QDateTime modified;
    quint64 size = 0;
};

SourceStatus statusOf(const QString &path)
{
    struct stat status
    {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return {{status.st_dev, status.st_ino, true},
            QDateTime::fromSecsSinceEpoch(qint64(status.st_mtim.tv_sec)),
            quint64(std::max<off_t>(status.st_size, 0))};
}

// Writes every byte. A short write is retried with the rest, so that the system's reason (a full
// disk, a file size limit) is the one that ends it.
bool writeAll(QFile &output, const char *data, qint64 size)
{
    while (size > 0) {
        const qint64 written = output.write(data, size);
        if (written <= 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

ZipWriter::Failure systemFailure(const QFile &file)
{
    return ZipWriter::Failure::system(file.errorString());
}

// Where an entry's bytes go as they are produced; answers the failure when they cannot be kept.
using Sink = std::function<std::optional<ZipWriter::Failure>(const char *data, qint64 size)>;
// Told the length of every chunk read; answering false cancels the copy.
using ReadHook = std::function<bool(qint64 length)>;

ZipWriter::Failure errnoFailure(int error)
{
    return ZipWriter::Failure::system(qt_error_string(error));
}

// A file descriptor, closed when it goes.
class Descriptor
{
public:
    Descriptor() = default;
    explicit Descriptor(int descriptor)
        : m_descriptor(descriptor)
    {}
    ~Descriptor()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_descriptor; }
    bool isOpen() const { return m_descriptor >= 0; }
    void reset(int descriptor)
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        m_descriptor = descriptor;
    }

private:
    int m_descriptor = -1;
};

// Reads up to `size` bytes, retrying after signals; -1 with errno on failure.
qint64 readSome(int descriptor, char *data, qint64 size)
{
    for (;;) {
        const ssize_t length = ::read(descriptor, data, size_t(size));
        if (length >= 0 || errno != EINTR)
            return qint64(length);
    }
}

// Writes every byte to a descriptor; false with errno on failure.
bool writeAllTo(int descriptor, const char *data, qint64 size)
{
    while (size > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = EIO;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// A raw DEFLATE stream (no zlib header, -15 window bits) that hands each compressed block to a
// sink as it is produced.
class Deflater
{
public:
    Deflater()
    {
        m_status = deflateInit2(&m_stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                                Z_DEFAULT_STRATEGY);
        m_ready = m_status == Z_OK;
    }
    ~Deflater()
    {
        if (m_ready)
            deflateEnd(&m_stream);
    }
    Deflater(const Deflater &) = delete;
    Deflater &operator=(const Deflater &) = delete;

    // Starts a new stream with the same settings, keeping the memory of the last one.
    void reset()
    {
        if (m_ready)
            m_ready = deflateReset(&m_stream) == Z_OK;
    }

    // Compresses `size` bytes (or, with Z_FINISH, ends the stream) and passes what comes out to
    // `sink`, adding its length to `compressedSize`. Nothing on success.
    std::optional<ZipWriter::Failure> run(const char *data, qint64 size, int flush,
                                          const Sink &sink, std::vector<char> &block,
                                          quint64 &compressedSize)
    {
        if (!m_ready)
            return compressorFailure();
        m_stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data));
        m_stream.avail_in = uInt(size);
        for (;;) {
            m_stream.next_out = reinterpret_cast<Bytef *>(block.data());
            m_stream.avail_out = uInt(block.size());
            m_status = deflate(&m_stream, flush);
            if (m_status == Z_STREAM_ERROR)
                return compressorFailure();
            const qint64 produced = qint64(block.size()) - m_stream.avail_out;
            if (produced > 0) {
                if (auto failure = sink(block.data(), produced))
                    return failure;
                compressedSize += quint64(produced);
            }
            if (flush == Z_FINISH ? m_status == Z_STREAM_END : m_stream.avail_out != 0)
                return std::nullopt;
        }
    }

private:
    ZipWriter::Failure compressorFailure() const
    {
        return ZipWriter::Failure::system(QString::fromLatin1(zError(m_status)));
    }

    z_stream m_stream{};
    int m_status = Z_OK;
    bool m_ready = false;
};

// What streaming keeps from entry to entry on one thread: the read chunk, the compressor's output
// block and one compressor, reset for each entry (setting one up anew costs more than a small file
// takes).
struct StreamBuffers
{
    std::vector<char> chunk = std::vector<char>(ZipWriter::readChunkSize);
    std::vector<char> block = std::vector<char>(ZipWriter::compressedBlockSize);
    std::optional<Deflater> deflater;
};

struct EntryData
{
    quint32 crc = 0;
    quint64 compressedSize = 0;
    quint64 uncompressedSize = 0;
};

// Streams one source file to `sink` in a single pass: each chunk is read once into the same
// buffer, its CRC-32 taken there, and it is compressed or passed on as it is.
std::optional<ZipWriter::Failure> copyData(const QUrl &source, quint16 method,
                                           StreamBuffers &buffers, const Sink &sink,
                                           const ReadHook &onRead, EntryData *data)
{
    const Descriptor input(
        ::open(QFile::encodeName(source.toLocalFile()).constData(), O_RDONLY | O_CLOEXEC));
    struct stat status
    {};
    if (!input.isOpen() || ::fstat(input.get(), &status) != 0 || S_ISDIR(status.st_mode))
        return ZipWriter::ZipError::unreadable(source);
    // A file that is already too large fails before any of it is written; one that grows while
    // it is read is caught below.
    if (quint64(std::max<off_t>(status.st_size, 0)) > ZipWriter::maximumSize)
        return ZipWriter::ZipError::tooLarge();
    if (status.st_size > ZipWriter::readChunkSize)
        ::posix_fadvise(input.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    std::vector<char> &chunk = buffers.chunk;
    Deflater *deflater = nullptr;
    if (method == methodDeflated) {
        if (buffers.deflater)
            buffers.deflater->reset();
        else
            buffers.deflater.emplace();
        deflater = &*buffers.deflater;
    }
    data->crc = quint32(crc32_z(0, nullptr, 0));
    for (;;) {
        const qint64 length = readSome(input.get(), chunk.data(), qint64(chunk.size()));
        // A read error is not the end of the file: the entry would be silently cut short.
        if (length < 0)
            return ZipWriter::ZipError::unreadable(source);
        if (length == 0)
            break;
        data->crc = quint32(
            crc32_z(data->crc, reinterpret_cast<const Bytef *>(chunk.data()), size_t(length)));
        if (deflater) {
            if (auto failure = deflater->run(chunk.data(), length, Z_NO_FLUSH, sink, buffers.block,
                                             data->compressedSize))
                return failure;
        } else {
            if (auto failure = sink(chunk.data(), length))
                return failure;
            data->compressedSize += quint64(length);
        }
        data->uncompressedSize += quint64(length);
        if (data->uncompressedSize > ZipWriter::maximumSize ||
            data->compressedSize > ZipWriter::maximumSize)
            return ZipWriter::ZipError::tooLarge();
        if (onRead && !onRead(length))
            return ZipWriter::ZipError::cancelled();
    }
    if (deflater) {
        if (auto failure =
                deflater->run(nullptr, 0, Z_FINISH, sink, buffers.block, data->compressedSize))
            return failure;
    }
    return std::nullopt;
}

// The bytes read of all sources so far and their total, for the progress callback.
struct ReadProgress
{
    const ZipWriter::Progress &report;
    quint64 read = 0;
    quint64 total = 0;

    // Counts a chunk read and reports it; false when the callback asks to stop.
    bool add(qint64 length)
    {
        read += quint64(length);
        // A file that grew since the total was taken does not push the report past it.
        total = std::max(total, read);
        return !report || report(read, total);
    }
};

// Compressed output held in memory per entry compressed ahead; the rest of a larger entry waits
// in a temporary file.
constexpr qsizetype aheadMemoryLimit = 4 * 1024 * 1024;
// The most compressing threads chosen by core count: memory grows with them.
constexpr int maximumThreads = 8;

// An unnamed temporary file in `folder` (on the archive's file system, which has to hold the data
// anyway): it has no name to leave behind and vanishes when closed. -1 with errno on failure.
int openSpillFile(const QByteArray &folder)
{
    const int descriptor = ::open(folder.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (descriptor >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return descriptor;
    // File systems without unnamed files: a named one, unlinked at once.
    QByteArray name = folder + "/.vyo-zip-XXXXXX";
    const int named = ::mkostemp(name.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(name.constData());
    return named;
}

// A deflated entry compressed ahead of the writer: its CRC and sizes, and its compressed bytes,
// the first aheadMemoryLimit of them in memory and the rest in a temporary file.
struct CompressedEntry
{
    std::optional<ZipWriter::Failure> failure;
    EntryData data;
    std::vector<char> memory;
    Descriptor spill;

    std::optional<ZipWriter::Failure> keep(const QByteArray &spillFolder, const char *bytes,
                                           qint64 size)
    {
        const qint64 room = std::min<qint64>(size, aheadMemoryLimit - qint64(memory.size()));
        // Grown by doubling, but never past the limit.
        if (memory.size() + std::size_t(room) > memory.capacity())
            memory.reserve(
                std::min(std::max(2 * memory.capacity(), memory.size() + std::size_t(room)),
                         std::size_t(aheadMemoryLimit)));
        memory.insert(memory.end(), bytes, bytes + room);
        if (room == size)
            return std::nullopt;
        if (!spill.isOpen()) {
            spill.reset(openSpillFile(spillFolder));
            if (!spill.isOpen())
                return errnoFailure(errno);
        }
        if (!writeAllTo(spill.get(), bytes + room, size - room))
            return errnoFailure(errno);
        return std::nullopt;
    }

    // Writes the compressed bytes to the archive, through `buffer` for the spilled part.
    std::optional<ZipWriter::Failure> writeTo(QFile &output, std::vector<char> &buffer) const
    {
        if (!writeAll(output, memory.data(), qint64(memory.size())))
            return systemFailure(output);
        if (!spill.isOpen())
            return std::nullopt;
        for (off_t at = 0;;) {
            const ssize_t length = ::pread(spill.get(), buffer.data(), buffer.size(), at);
            if (length < 0 && errno == EINTR)
                continue;
            if (length < 0)
                return errnoFailure(errno);
            if (length == 0)
                return std::nullopt;
            if (!writeAll(output, buffer.data(), length))
                return systemFailure(output);
            at += length;
        }
    }
};

// Compresses the deflated entries on a few threads ahead of the writer, which takes them back in
// archive order. At most `window` entries are in flight (claimed and not yet taken), each holding
// at most aheadMemoryLimit in memory, so memory stays bounded whatever the sources' sizes.
class AheadCompressor
{
public:
    AheadCompressor(QList<QUrl> sources, int threads, QByteArray spillFolder, bool countsReads)
        : m_sources(std::move(sources))
        , m_spillFolder(std::move(spillFolder))
        , m_window(std::size_t(2 * threads))
        , m_countsReads(countsReads)
        , m_results(std::size_t(m_sources.size()))
    {
        for (int i = 0; i < threads && i < m_sources.size(); ++i) {
            // Without threads (the system refuses them) the writer compresses on its own.
            try {
                m_threads.emplace_back([this] { work(); });
            } catch (const std::system_error &) {
                break;
            }
        }
    }
    ~AheadCompressor()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_stopping.store(true);
        m_changed.notify_all();
        for (std::thread &thread : m_threads)
            thread.join();
    }
    AheadCompressor(const AheadCompressor &) = delete;
    bool isRunning() const { return !m_threads.empty(); }
    AheadCompressor &operator=(const AheadCompressor &) = delete;

    // The next entry in order, once compressed. Meanwhile every chunk read by the threads is
    // passed to `onRead` on this thread; nothing when it cancels.
    std::unique_ptr<CompressedEntry> next(const ReadHook &onRead)
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            if (!m_reads.empty()) {
                const std::vector<qint64> reads = std::exchange(m_reads, {});
                lock.unlock();
                for (const qint64 length : reads) {
                    if (!onRead(length))
                        return nullptr;
                }
                lock.lock();
                continue;
            }
            if (m_results[m_taken]) {
                std::unique_ptr<CompressedEntry> result = std::move(m_results[m_taken]);
                ++m_taken;
                m_changed.notify_all();
                return result;
            }
            m_changed.wait(lock);
        }
    }

private:
    void work()
    {
        StreamBuffers buffers;
        const ReadHook onRead = [this](qint64 length) {
            if (m_stopping.load(std::memory_order_relaxed))
                return false;
            if (m_countsReads) {
                const std::lock_guard lock(m_mutex);
                m_reads.push_back(length);
                m_changed.notify_all();
            }
            return true;
        };
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] {
                return m_stop || m_claimed == m_results.size() || m_claimed < m_taken + m_window;
            });
            if (m_stop || m_claimed == m_results.size())
                return;
            const std::size_t index = m_claimed++;
            lock.unlock();
            auto result = std::make_unique<CompressedEntry>();
            const Sink sink = [&result, this](const char *bytes, qint64 size) {
                return result->keep(m_spillFolder, bytes, size);
            };
            result->failure = copyData(m_sources[qsizetype(index)], methodDeflated, buffers, sink,
                                       onRead, &result->data);
            lock.lock();
            m_results[index] = std::move(result);
            m_changed.notify_all();
        }
    }

    const QList<QUrl> m_sources;
    const QByteArray m_spillFolder;
    const std::size_t m_window;
    const bool m_countsReads;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<CompressedEntry>> m_results;
    std::vector<qint64> m_reads;
    std::size_t m_claimed = 0;
    std::size_t m_taken = 0;
    bool m_stop = false;
    std::atomic<bool> m_stopping = false;
    std::vector<std::thread> m_threads;
};

// What the writer decides about an entry before writing any: whether it is left out, how it is
// stored, its date, and whether its data is compressed ahead.
struct EntryPlan
{
    bool skipped = false;
    quint16 method = methodStored;
    quint32 dosDateTime = 0;
    bool ahead = false;
};

} // namespace

QString ZipWriter::ZipError::description() const
{
    switch (m_code) {
    case Code::unreadable: {
        const QString name = QFileInfo(QDir::cleanPath(m_source.toLocalFile())).fileName();
        return name + QStringLiteral(" 파일을 읽을 수 없습니다.");
    }
    case Code::tooLarge:
        return QStringLiteral("ZIP은 4GB까지 만들 수 있습니다.");
    case Code::cancelled:
        return QStringLiteral("취소했습니다.");
    }
    return {};
}

const QSet<QString> &ZipWriter::storedExtensions()
{
    static const QSet<QString> extensions{
        u"zip"_qs,  u"gz"_qs,    u"tgz"_qs,    u"bz2"_qs,  u"xz"_qs,   u"7z"_qs,   u"rar"_qs,
        u"dmg"_qs,  u"jpg"_qs,   u"jpeg"_qs,   u"png"_qs,  u"gif"_qs,  u"heic"_qs, u"heif"_qs,
        u"webp"_qs, u"avif"_qs,  u"mp3"_qs,    u"m4a"_qs,  u"aac"_qs,  u"mp4"_qs,  u"m4v"_qs,
        u"mov"_qs,  u"mkv"_qs,   u"webm"_qs,   u"docx"_qs, u"xlsx"_qs, u"pptx"_qs, u"hwpx"_qs,
        u"key"_qs,  u"pages"_qs, u"numbers"_qs};
    return extensions;
}

quint32 ZipWriter::dosDateTime(const QDateTime &date)
{
    if (!date.isValid())
        return quint32(1 * 32 + 1) << 16;
    const QDateTime local = date.toLocalTime();
    const QDate day = local.date();
    const QTime time = local.time();
    if (day.year() >= 2108)
        return latestDosDateTime;
    const quint32 year = quint32(std::max(day.year() - 1980, 0));
    const quint32 dosDate = year * 512 + quint32(day.month()) * 32 + quint32(day.day());
    const quint32 dosTime =
        quint32(time.hour()) * 2048 + quint32(time.minute()) * 32 + quint32(time.second()) / 2;
    return (dosDate << 16) | dosTime;
}

QString ZipWriter::uniqueName(const QString &name, const QSet<QString> &used)
{
    if (!used.contains(name))
        return name;
    // Split at the last "." unless it begins the name or ends it ("README", ".profile", "x.").
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString base = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    // At most used.size() candidates can be taken, so this ends by then.
    for (qsizetype n = 2;; ++n) {
        const QString candidate = base + u" (" + QString::number(n) + u')' + extension;
        if (!used.contains(candidate))
            return candidate;
    }
}

QString ZipWriter::windowsName(const QString &name)
{
    static const QString refused = QStringLiteral("<>:\"\\|?*");
    static const QString lookAlikes = QStringLiteral("＜＞：＂＼｜？＊");
    QString mapped = name;
    for (QChar &c : mapped) {
        if (c.unicode() < 0x20)
            c = u'_';
        else if (const qsizetype at = refused.indexOf(c); at >= 0)
            c = lookAlikes[at];
    }
    while (mapped.endsWith(u'.') || mapped.endsWith(u' '))
        mapped.chop(1);
    if (mapped.isEmpty())
        return QStringLiteral("_");
    // Windows reads "nul.txt" or "COM1 .tar.gz" as the device: what counts is the part before the
    // first dot, without trailing spaces, in any letter case (superscript digits included).
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[1-9¹²³]|LPT[1-9¹²³]) *(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    if (reserved.match(mapped).hasMatch())
        mapped.prepend(u'_');
    return mapped;
}

QString ZipWriter::entryName(const QString &fileName, const QString &parent, QSet<QString> *used)
{
    const QString mapped = windowsName(nfc(fileName));
    const qsizetype available =
        std::max<qsizetype>(maximumPathLength - (parent.isEmpty() ? 0 : parent.size() + 1), 1);
    // Split at the last "." unless it begins the name, as uniqueName does.
    const qsizetype dot = mapped.lastIndexOf(u'.');
    const bool hasExtension = dot > 0 && dot < mapped.size() - 1;
    const QString base = hasExtension ? mapped.left(dot) : mapped;
    QString extension = hasExtension ? mapped.mid(dot) : QString();

    // The base is cut at a character boundary until the name fits; an extension too long to
    // leave room for any of the base is cut as part of the name.
    const auto fitted = [&](const QString &suffix) {
        QString front = base;
        QString back = suffix + extension;
        if (back.size() >= available) {
            front = base + extension;
            back = suffix;
        }
        for (;;) {
            QString candidate = windowsName(front + back);
            if (candidate.size() <= available || front.size() <= 1)
                return candidate;
            qsizetype keep = std::max<qsizetype>(available - back.size(), 1);
            if (keep >= front.size())
                keep = front.size() - 1;
            QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, front);
            graphemes.setPosition(keep);
            if (!graphemes.isAtBoundary())
                graphemes.toPreviousBoundary();
            front.truncate(std::max<qsizetype>(graphemes.position(), 1));
        }
    };
    // At most used->size() candidates can be taken, so this ends by then.
    QString name = fitted(QString());
    for (qsizetype n = 2; used->contains(name.toCaseFolded()); ++n)
        name = fitted(u" (" + QString::number(n) + u')');
    used->insert(name.toCaseFolded());
    return name;
}

QList<ZipWriter::Entry> ZipWriter::makeEntries(const QList<QUrl> &urls)
{
    QList<Entry> entries;
    QSet<QString> usedNames;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = QDir::cleanPath(url.toLocalFile());
        const QString fileName = QFileInfo(path).fileName();
        if (fileName.isEmpty())
            continue;
        // Taken even when nothing is there any more.
        const QString name = entryName(fileName, QString(), &usedNames);
        const QFileInfo info(path);
        if (info.isDir()) {
            entries.append({name + u'/', std::nullopt});
            addFolderContents(path, name, entries);
        } else if (info.isFile()) {
            entries.append({name, QUrl::fromLocalFile(path)});
        }
    }
    return entries;
}

std::optional<ZipWriter::Failure> ZipWriter::write(const QList<Entry> &entries,
                                                   const QUrl &destination,
                                                   const Progress &progress, int compressionThreads)
{
    // The count is known up front: no need to write gigabytes before failing on it.
    if (entries.size() > maximumEntries)
        return ZipError::tooLarge();

    QFile output(destination.toLocalFile());
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return systemFailure(output);
    const FileIdentity archive = identityOf(output.handle());

    const int threads = compressionThreads > 0
                            ? compressionThreads
                            : std::clamp(QThread::idealThreadCount(), 1, maximumThreads);
    ReadProgress read{progress};
    std::vector<EntryPlan> plans;
    plans.reserve(std::size_t(entries.size()));
    QList<QUrl> aheadSources;
    for (const Entry &entry : entries) {
        EntryPlan &plan = plans.emplace_back();
        QDateTime modified;
        if (entry.source) {
            const SourceStatus source = statusOf(entry.source->toLocalFile());
            // An archive saved inside a folder it archives must not swallow itself: read while
            // it grows, it would never end.
            plan.skipped = source.identity == archive;
            modified = source.modified;
            read.total += plan.skipped ? 0 : source.size;
            if (!isStored(entry.path))
                plan.method = methodDeflated;
        }
        if (!modified.isValid())
            modified = QDateTime::currentDateTime();
        plan.dosDateTime = dosDateTime(modified);
        plan.ahead = threads > 1 && !plan.skipped && plan.method == methodDeflated;
        if (plan.ahead)
            aheadSources.append(*entry.source);
    }
    std::optional<AheadCompressor> compressor;
    if (!aheadSources.isEmpty()) {
        compressor.emplace(aheadSources, threads,
                           QFile::encodeName(QFileInfo(output.fileName()).absolutePath()),
                           bool(progress));
        if (!compressor->isRunning()) {
            compressor.reset();
            for (EntryPlan &plan : plans)
                plan.ahead = false;
        }
    }

    const ReadHook onRead = [&read](qint64 length) { return read.add(length); };
    const Sink toArchive = [&output](const char *data,
                                     qint64 size) -> std::optional<ZipWriter::Failure> {
        if (!writeAll(output, data, size))
            return systemFailure(output);
        return std::nullopt;
    };
    StreamBuffers buffers;
    CentralDirectory directory;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const Entry &entry = entries[i];
        const EntryPlan &plan = plans[std::size_t(i)];
        if (plan.skipped)
            continue;
        QByteArray header;
        if (auto error = directory.beginEntry(entry.path.toUtf8(), plan.method, plan.dosDateTime,
                                              !entry.source, &header))
            return *error;

        QByteArray patch;
        if (plan.ahead) {
            // Compressed already: the header goes out complete, followed by the data.
            const std::unique_ptr<CompressedEntry> compressed = compressor->next(onRead);
            if (!compressed)
                return ZipError::cancelled();
            if (compressed->failure)
                return compressed->failure;
            const EntryData &data = compressed->data;
            if (auto error = directory.endEntry(data.crc, data.compressedSize,
                                                data.uncompressedSize, &patch))
                return *error;
            header.replace(patchOffsetInHeader, patch.size(), patch);
            if (!writeAll(output, header.constData(), header.size()))
                return systemFailure(output);
            if (auto failure = compressed->writeTo(output, buffers.chunk))
                return failure;
            continue;
        }

        if (!writeAll(output, header.constData(), header.size()))
            return systemFailure(output);
        EntryData data;
        if (entry.source) {
            if (auto failure =
                    copyData(*entry.source, plan.method, buffers, toArchive, onRead, &data))
                return failure;
        }
        if (auto error =
                directory.endEntry(data.crc, data.compressedSize, data.uncompressedSize, &patch))
            return *error;
        if (!output.seek(qint64(directory.patchOffset())) ||
            !writeAll(output, patch.constData(), patch.size()) ||
            !output.seek(qint64(directory.offset())))
            return systemFailure(output);
    }

    QByteArray tail;
    if (auto error = directory.finish(&tail))
        return *error;
    if (!writeAll(output, tail.constData(), tail.size()))
        return systemFailure(output);
    output.close();
    if (output.error() != QFileDevice::NoError)
        return systemFailure(output);
    return std::nullopt;
}

std::optional<ZipWriter::Failure>
ZipWriter::writeArchive(const QList<QUrl> &urls, const QUrl &destination, const Progress &progress)
{
    return write(makeEntries(urls), destination, progress);
}

std::optional<ZipWriter::ZipError>
ZipWriter::CentralDirectory::beginEntry(const QByteArray &name, quint16 method, quint32 dosDateTime,
                                        bool isFolder, QByteArray *localHeader)
{
    if (m_offset > maximumSize || name.size() > maximumNameLength)
        return ZipError::tooLarge();
    m_entryOffset = m_offset;
    m_entryName = name;
    m_entryMethod = method;
    m_entryDateTime = dosDateTime;
    m_entryIsFolder = isFolder;

    QByteArray &header = *localHeader;
    header.clear();
    header.reserve(localHeaderLength + name.size());
    appendLE32(header, localHeaderSignature);
    appendLE16(header, versionNeeded);
    appendLE16(header, utf8Flag);
    appendLE16(header, method);
    appendLE32(header, dosDateTime); // time, then date
    appendLE32(header, 0);           // CRC-32, patched at the end of the entry
    appendLE32(header, 0);           // compressed size, patched
    appendLE32(header, 0);           // uncompressed size, patched
    appendLE16(header, quint16(name.size()));
    appendLE16(header, 0); // extra field length
    header.append(name);
    return std::nullopt;
}

std::optional<ZipWriter::ZipError> ZipWriter::CentralDirectory::endEntry(quint32 crc,
                                                                         quint64 compressedSize,
                                                                         quint64 uncompressedSize,
                                                                         QByteArray *patch)
{
    if (compressedSize > maximumSize || uncompressedSize > maximumSize)
        return ZipError::tooLarge();
    patch->clear();
    appendLE32(*patch, crc);
    appendLE32(*patch, quint32(compressedSize));
    appendLE32(*patch, quint32(uncompressedSize));

    appendLE32(m_records, centralRecordSignature);
    appendLE16(m_records, versionMadeBy);
    appendLE16(m_records, versionNeeded);
    appendLE16(m_records, utf8Flag);
    appendLE16(m_records, m_entryMethod);
    appendLE32(m_records, m_entryDateTime);
    m_records.append(*patch); // CRC-32 and both sizes
    appendLE16(m_records, quint16(m_entryName.size()));
    appendLE16(m_records, 0); // extra field length
    appendLE16(m_records, 0); // file comment length
    appendLE16(m_records, 0); // disk number start
    appendLE16(m_records, 0); // internal file attributes
    appendLE32(m_records, m_entryIsFolder ? folderAttributes : fileAttributes);
    appendLE32(m_records, quint32(m_entryOffset));
    m_records.append(m_entryName);

    m_offset = m_entryOffset + quint64(localHeaderLength + m_entryName.size()) + compressedSize;
    ++m_count;
    return std::nullopt;
}

std::optional<ZipWriter::ZipError> ZipWriter::CentralDirectory::finish(QByteArray *tail) const
{
    if (m_count > maximumEntries || m_offset > maximumSize ||
        quint64(m_records.size()) > maximumSize)
        return ZipError::tooLarge();
    *tail = m_records;
    appendLE32(*tail, endRecordSignature);
    appendLE16(*tail, 0); // number of this disk
    appendLE16(*tail, 0); // disk where the central directory starts
    appendLE16(*tail, quint16(m_count));
    appendLE16(*tail, quint16(m_count));
    appendLE32(*tail, quint32(m_records.size()));
    appendLE32(*tail, quint32(m_offset));
    appendLE16(*tail, 0); // comment length
    return std::nullopt;
}

} // namespace vyo
