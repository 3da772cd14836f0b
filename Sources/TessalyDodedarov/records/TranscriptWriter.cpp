#include "records/TranscriptWriter.h"

#include "common/Clock.h"
#include "common/SafeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTime>

#include <atomic>
#include <malloc.h>
#include <utility>

const QString TranscriptWriter::indent = QStringLiteral("          ");

namespace {

const QString kDiagnosticsFolder = QStringLiteral("诊断");
const QString kSummarySuffix = QStringLiteral(" 诊断.json");
const QString kTurnMark = QStringLiteral("—— 换人 ——\n\n");
// A real summary is under 2 KiB; a larger file in the folder is not ours and
// is never read whole.
constexpr qint64 kMaxSummaryBytes = 1024 * 1024;

// File names and the header use the POSIX locale (ASCII digits, 24-hour
// clock) in the local time zone; QLocale::c() is that locale.
QString format(const QDateTime &date, const QString &pattern)
{
    return QLocale::c().toString(date.toLocalTime(), pattern);
}

// The record prints one clock per entry; a three-hour meeting has thousands
// of them and the whole body is laid out again for every save,
// so "HH:mm:ss" is written by hand instead of through the pattern parser.
void appendClock(QString &out, const QDateTime &date)
{
    // A time already in local time (every caption's) needs no conversion.
    QTime t = date.timeSpec() == Qt::LocalTime ? date.time() : date.toLocalTime().time();
    if (!t.isValid())
        t = QTime(0, 0);
    const char16_t clock[8] = {
        char16_t(u'0' + t.hour() / 10),   char16_t(u'0' + t.hour() % 10),   u':',
        char16_t(u'0' + t.minute() / 10), char16_t(u'0' + t.minute() % 10), u':',
        char16_t(u'0' + t.second() / 10), char16_t(u'0' + t.second() % 10),
    };
    out.append(reinterpret_cast<const QChar *>(clock), 8);
}

// A file's text, or nothing when it can't be opened or is not valid UTF-8:
// a damaged record or summary counts as unreadable rather than being passed
// on with replacement characters in it. With a limit, a file of more bytes
// counts as unreadable and is not read (beyond limit + 1 bytes, should it grow).
std::optional<QString> readUtf8(const QString &path, qint64 limit = -1)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    if (limit >= 0 && file.size() > limit)
        return std::nullopt;
    const QByteArray bytes = limit < 0 ? file.readAll() : file.read(limit + 1);
    if (limit >= 0 && bytes.size() > limit)
        return std::nullopt;
    // Stateless: a multi-byte sequence cut off at the end is an error too.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool write(const QString &text, const QString &file, const QString &folder)
{
    return QDir().mkpath(folder) && SafeFile::write(file, text);
}

// A long meeting frees as much as it allocates, and glibc keeps most of what is freed in its
// arenas: the resident size would grow twice as fast as the live heap. Once a minute of the
// pipeline's clock (read by the caller, passed in) the writer hands that memory back, after a
// save and on its own thread, as the trim takes milliseconds.
void trimAllocatorNowAndThen(double now)
{
    static std::atomic<double> lastTrim {-1e300};
    double last = lastTrim.load();
    if (now >= last && now - last < 60)
        return;
    if (!lastTrim.compare_exchange_strong(last, now))
        return; // another writer trims just now
    malloc_trim(0);
}

} // namespace

QString TranscriptWriter::defaultDirectory()
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return QDir(documents).filePath(QStringLiteral("泰萨利字幕记录"));
}

TranscriptWriter::TranscriptWriter(const QString &directory)
    : m_directory(directory),
      m_ioQueue(QStringLiteral("com.tessalab.dodedarov.transcript"))
{
}

void TranscriptWriter::begin(const QDateTime &date)
{
    const QDir dir(m_directory);
    const QString base = format(date, QStringLiteral("yyyy-MM-dd HH.mm.ss"));
    QString candidate = dir.filePath(base + QStringLiteral(".txt"));
    // A name once handed out is never handed out again, even when its file was
    // never written: an earlier meeting's queued saves may still create it.
    for (int n = 2; m_claimed.contains(candidate) || QFileInfo::exists(candidate); ++n)
        candidate = dir.filePath(base + QStringLiteral(" (%1).txt").arg(n));
    m_fileURL = candidate;
    m_claimed.insert(candidate);
    m_header = QStringLiteral("泰萨利字幕 会议记录\n开始时间：")
        + format(date, QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral("\n\n");
}

void TranscriptWriter::save(const QList<Entry> &entries, bool synchronously,
                            std::function<void(bool)> completion)
{
    if (entries.isEmpty())
        return;
    saveMade([entries] { return entries; }, synchronously, std::move(completion));
}

void TranscriptWriter::saveMade(EntryMaker entries, bool synchronously, std::function<void(bool)> completion)
{
    if (!m_fileURL || !entries)
        return;
    // The maker, header, file and folder are taken now: a save queued for one
    // meeting keeps writing that meeting's file after the next meeting has begun.
    // The entries and their text are made on the queue, so a debounced save costs
    // the caller's thread only the maker.
    const QString file = *m_fileURL;
    if (synchronously) {
        // A save of this file still waiting is older than this one: it is not
        // written, and its callers hear how this write went.
        std::vector<std::function<void(bool)>> answered;
        {
            const std::lock_guard guard(m_waiting->lock);
            if (const auto waiting = m_waiting->byFile.find(file); waiting != m_waiting->byFile.end()) {
                answered = std::move(waiting->completions);
                m_waiting->byFile.erase(waiting);
            }
        }
        answered.push_back(std::move(completion));
        m_ioQueue.sync([&] { answer(answered, writeRecord(m_header, entries, file, m_directory)); });
        return;
    }
    bool queued = false;
    EntryMaker replaced;
    {
        // While queued work for this file has not started, it writes the newest entries.
        const std::lock_guard guard(m_waiting->lock);
        queued = m_waiting->byFile.contains(file);
        WaitingSave &save = m_waiting->byFile[file];
        replaced = std::exchange(save.entries, std::move(entries));
        save.header = m_header;
        save.folder = m_directory;
        save.completions.push_back(std::move(completion));
    }
    if (queued)
        return;
    m_ioQueue.async([waiting = m_waiting, file, now = Clock::uptime()] {
        WaitingSave save;
        {
            const std::lock_guard guard(waiting->lock);
            const auto found = waiting->byFile.find(file);
            if (found == waiting->byFile.end())
                return; // a synchronous save wrote newer entries already
            save = std::move(*found);
            waiting->byFile.erase(found);
        }
        answer(save.completions, writeRecord(save.header, save.entries, file, save.folder));
        save = WaitingSave();
        trimAllocatorNowAndThen(now);
    });
}

bool TranscriptWriter::writeRecord(const QString &header, const EntryMaker &entries, const QString &file,
                                   const QString &folder)
{
    const QList<Entry> made = entries();
    if (made.isEmpty())
        return true;
    // As write() does, but the text goes out a piece of entries at a time: the record of a
    // long meeting is megabytes, and holding it whole in UTF-16 and again in UTF-8 on every
    // save would keep that much more memory in use. Pieces end between entries, so no
    // character is ever cut in two.
    if (!QDir().mkpath(folder))
        return false;
    return SafeFile::write(file, [&header, &made](QIODevice &out) {
        constexpr qsizetype pieceCharacters = 64 * 1024;
        QString piece = header;
        for (qsizetype i = 0; i < made.size(); ++i) {
            appendEntry(piece, made[i], i == 0);
            if (piece.size() < pieceCharacters && i + 1 < made.size())
                continue;
            const QByteArray bytes = piece.toUtf8();
            if (out.write(bytes) != bytes.size())
                return false;
            piece.resize(0);
        }
        return true;
    });
}

void TranscriptWriter::answer(const std::vector<std::function<void(bool)>> &completions, bool ok)
{
    for (const std::function<void(bool)> &done : completions)
        if (done)
            done(ok);
}

void TranscriptWriter::saveCopy(const QString &of, EntryMaker entries, const QString &suffix, const QString &note,
                                std::function<void(const std::optional<QString> &)> completion)
{
    m_ioQueue.async([of, entries = std::move(entries), note, completion = std::move(completion),
                     target = siblingPath(of, suffix), folder = m_directory] {
        // The record is read here, after any save of it that waited on the queue.
        QString text;
        if (const std::optional<QString> existing = readUtf8(of)) {
            const qsizetype cut = existing->indexOf(QStringLiteral("\n\n"));
            if (cut >= 0)
                text = existing->left(cut) + u'\n';
        }
        text += note + QStringLiteral("\n\n") + body(entries());
        const bool ok = write(text, target, folder);
        if (completion)
            completion(ok ? std::optional<QString>(target) : std::nullopt);
    });
}

std::optional<QString> TranscriptWriter::saveSidecar(const QString &of, const QString &suffix,
                                                     const QString &text)
{
    const QString target = siblingPath(of, suffix);
    return writeNow(text, target, m_directory) ? std::optional<QString>(target) : std::nullopt;
}

std::optional<QString> TranscriptWriter::writeDiagnostic(const QString &name, const QString &text)
{
    const QString folder = diagnosticsFolder();
    const QString target = QDir(folder).filePath(name);
    return writeNow(text, target, folder) ? std::optional<QString>(target) : std::nullopt;
}

QStringList TranscriptWriter::diagnosticSummaries() const
{
    QStringList texts;
    const QDir dir(diagnosticsFolder());
    // Names begin with the meeting's date, so name order is meeting order.
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : names) {
        if (!name.endsWith(kSummarySuffix))
            continue;
        if (std::optional<QString> text = readUtf8(dir.filePath(name), kMaxSummaryBytes))
            texts.append(std::move(*text));
    }
    return texts;
}

QList<TranscriptWriter::Entry> TranscriptWriter::interleave(const QList<Entry> &a,
                                                            const QList<Entry> &b)
{
    if (b.isEmpty())
        return a;
    QList<Entry> merged;
    merged.reserve(a.size() + b.size());
    qsizetype cursor = 0;
    for (const Entry &x : a) {
        // Strictly earlier only: on a tie the caption stays first.
        while (cursor < b.size() && b[cursor].time < x.time)
            merged.append(b[cursor++]);
        merged.append(x);
    }
    while (cursor < b.size())
        merged.append(b[cursor++]);
    return merged;
}

QString TranscriptWriter::body(const QList<Entry> &entries)
{
    return text(QString(), entries);
}

QString TranscriptWriter::text(const QString &head, const QList<Entry> &entries)
{
    qsizetype estimate = head.size();
    for (const Entry &e : entries) {
        estimate += 40 + e.english.size() + (e.chinese ? e.chinese->size() : 0)
            + (e.block ? e.block->size() + 64 : 0) + (e.note ? e.note->size() + 12 : 0)
            + (e.original ? e.original->size() + 12 : 0);
    }
    QString out;
    out.reserve(estimate);
    out += head;

    for (qsizetype i = 0; i < entries.size(); ++i)
        appendEntry(out, entries[i], i == 0);
    return out;
}

void TranscriptWriter::appendEntry(QString &out, const Entry &e, bool first)
{
    if (e.block) {
        appendClock(out, e.time);
        out += QLatin1String("  ");
        bool firstLine = true;
        for (QStringView line : QStringView(*e.block).split(u'\n', Qt::SkipEmptyParts)) {
            if (!firstLine) {
                out += u'\n';
                out += indent;
            }
            out += line;
            firstLine = false;
        }
        out += QLatin1String("\n\n");
        return;
    }
    if (!first && e.newTurn)
        out += kTurnMark;
    appendClock(out, e.time);
    out += QLatin1String("  ");
    if (e.chinese && !e.chinese->isEmpty()) {
        out += *e.chinese;
        out += u'\n';
        if (!e.english.isEmpty()) {
            out += indent;
            out += e.english;
            out += u'\n';
        }
    } else {
        out += e.english;
        out += u'\n';
    }
    if (e.original && !e.original->isEmpty()) {
        out += indent;
        out += *e.original;
        out += u'\n';
    }
    if (e.note && !e.note->isEmpty()) {
        out += indent;
        out += *e.note;
        out += u'\n';
    }
    out += u'\n';
}

QString TranscriptWriter::siblingPath(const QString &of, const QString &suffix) const
{
    const QString base = QFileInfo(of).completeBaseName();
    return QDir(m_directory).filePath(base + u' ' + suffix + QStringLiteral(".txt"));
}

QString TranscriptWriter::diagnosticsFolder() const
{
    return QDir(m_directory).filePath(kDiagnosticsFolder);
}

bool TranscriptWriter::writeNow(const QString &text, const QString &file, const QString &folder)
{
    bool ok = false;
    m_ioQueue.sync([&] { ok = write(text, file, folder); });
    return ok;
}
