#pragma once

#include "common/SerialQueue.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// Keeps the text files a meeting leaves in the records folder: the record
// itself (rewritten whole on every save), copies with another body (the
// proofread copy), side files (the chat transcript) and the diagnostics
// subfolder. It also owns the record format.
//
// The meeting model owns the one writer and calls it from the main thread
// only; every file write runs on the writer's own serial queue in call order,
// so a synchronous write is never overwritten by an older queued save. A save
// of the record that arrives while an earlier one still waits on the queue
// takes its place: each save rewrites the whole record, so a writer that falls
// behind (a slow disk) holds one waiting record per file, not one per save.
class TranscriptWriter final {
public:
    // One unit of the record: a caption, or a multi-line block the automatic
    // features add (then every field but `time` is ignored).
    struct Entry {
        QDateTime time;
        std::optional<QString> chinese;
        QString english;
        bool newTurn = false;
        std::optional<QString> note;
        std::optional<QString> original;
        std::optional<QString> block;

        bool operator==(const Entry &) const = default;
    };

    // Ten blanks: the width of "HH:mm:ss" and the two blanks after it.
    static const QString indent;

    // "泰萨利字幕记录" in the user's documents folder: where the meeting model
    // keeps its records.
    static QString defaultDirectory();

    explicit TranscriptWriter(const QString &directory);

    TranscriptWriter(const TranscriptWriter &) = delete;
    TranscriptWriter &operator=(const TranscriptWriter &) = delete;

    QString directory() const { return m_directory; }
    std::optional<QString> fileURL() const { return m_fileURL; }
    QString header() const { return m_header; }

    // Picks and claims the new meeting's record file; writes nothing yet.
    void begin(const QDateTime &date);
    // Rewrites the record with header + body. Does nothing (and never calls the
    // completion) before begin() or for an empty list. The completion runs on
    // the writer's queue, not on the caller's thread; a save that a newer one
    // replaced before it was written hears the outcome of the newer write.
    void save(const QList<Entry> &entries, bool synchronously, std::function<void(bool)> completion);
    // Makes a record's entries on the writer's queue. It owns what it reads (an
    // implicitly shared copy of the caller's data), so the caller's thread pays for
    // neither the entries nor the text of a long meeting.
    using EntryMaker = std::function<QList<Entry>()>;
    // save() with entries made on the queue, by the time the write runs, from what
    // `entries` holds: the caller's state when it asked. Nothing is written when it
    // makes an empty list; its callers hear success then, as nothing was lost.
    void saveMade(EntryMaker entries, bool synchronously, std::function<void(bool)> completion);
    // "<record name> <suffix>.txt" beside the record: the record's header lines,
    // the note, a blank line and the body of the entries. The entries, the text and
    // the write are made on the queue, after any save of the record waiting there,
    // so the caller's thread neither makes nor waits for the copy of a long meeting;
    // the completion runs on the queue with the copy's path, or nothing when it
    // could not be written.
    void saveCopy(const QString &of, EntryMaker entries, const QString &suffix, const QString &note,
                  std::function<void(const std::optional<QString> &)> completion);
    // "<record name> <suffix>.txt" holding `text` unchanged. Waits for the write.
    std::optional<QString> saveSidecar(const QString &of, const QString &suffix, const QString &text);
    // A file of the "诊断" subfolder. Waits for the write.
    std::optional<QString> writeDiagnostic(const QString &name, const QString &text);
    // Runs `work` on the writer's queue after every write asked for before it, and before the
    // writer goes: slow work whose results are written (the diagnostics) runs there, off the
    // caller's thread. Its writes through this writer run at once.
    void onQueue(std::function<void()> work) { m_ioQueue.async(std::move(work)); }
    // The texts of every " 诊断.json" file of the "诊断" subfolder; files over
    // 1 MiB and files that are not UTF-8 are left out.
    QStringList diagnosticSummaries() const;

    // Merges background blocks into the captions by time; a caption wins a tie.
    static QList<Entry> interleave(const QList<Entry> &a, const QList<Entry> &b);
    // The record text of the entries, without the header.
    static QString body(const QList<Entry> &entries);
    // `head` followed by the body of the entries, built in one buffer: the record of a long
    // meeting is megabytes, and joining two such strings costs as much as building one.
    static QString text(const QString &head, const QList<Entry> &entries);

private:
    QString siblingPath(const QString &of, const QString &suffix) const;
    QString diagnosticsFolder() const;
    bool writeNow(const QString &text, const QString &file, const QString &folder);
    // Makes the entries and writes header + body to the record file, a piece at a time.
    static bool writeRecord(const QString &header, const EntryMaker &entries, const QString &file,
                            const QString &folder);
    // The record text of one entry; `first` for the first of the body.
    static void appendEntry(QString &out, const Entry &entry, bool first);
    static void answer(const std::vector<std::function<void(bool)>> &completions, bool ok);

    // The save of a record file that waits on the queue, and the callers it answers.
    struct WaitingSave {
        EntryMaker entries;
        QString header;
        QString folder;
        std::vector<std::function<void(bool)>> completions;
    };
    struct Waiting {
        std::mutex lock;
        QHash<QString, WaitingSave> byFile;
    };

    const QString m_directory;
    std::optional<QString> m_fileURL;
    QString m_header;
    // Shared with the queued work, which may run while the writer is going away.
    std::shared_ptr<Waiting> m_waiting = std::make_shared<Waiting>();
    SerialQueue m_ioQueue;
    QSet<QString> m_claimed;
};
