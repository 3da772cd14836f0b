#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

// One notable step of a meeting: when it happened (seconds since the meeting
// began, on the uptime clock), what kind of step it was and a few details.
struct DiagnosticEvent {
    double t = 0;
    QString kind;
    QMap<QString, QString> fields;

    bool operator==(const DiagnosticEvent &) const = default;

    // The event as one line of JSON: keys in code-point order, no blanks,
    // non-ASCII as UTF-8, "/" escaped, "t" to one decimal. A field that carries
    // the name "t" or "kind" is written as "field_t" / "field_kind", so it can
    // neither move the event in time nor change its kind. Empty when t is not
    // a finite number.
    QString jsonLine() const;
};

// The event log of one meeting, kept in memory while diagnostics are on and
// written out after the meeting. The meeting model owns it and replaces it
// with an empty log when a new meeting begins; main thread only. A copy is
// cheap (the packed events are implicitly shared), so a worker may read one.
//
// A three-hour meeting logs several events per caption line: each is packed
// into a few bytes of a block (its time, then its kind and fields as Latin-1
// or UTF-16 texts with their lengths) rather than kept as a map, whose nodes
// and strings cost about a kilobyte a line. Reading unpacks exactly what was
// added.
class DiagnosticLog final {
public:
    // Bounds the memory of a long meeting whose events carry long texts.
    static constexpr qsizetype maxEvents = 30000;
    static constexpr qsizetype maxFieldCharacters = 4000;

    // Appends one event with every field value cut to its first 4,000
    // characters; a full log drops the event silently.
    void add(double t, const QString &kind, const QMap<QString, QString> &fields = {});
    qsizetype size() const { return m_size; }
    qsizetype count(const QString &kind) const;
    // Every event, in the order added.
    QList<DiagnosticEvent> events() const;

    // The JSON line of each event followed by "\n"; "\n" alone for no events.
    static QString jsonl(const QList<DiagnosticEvent> &events);

    // The first `limit` user-perceived characters of a text; never splits a
    // surrogate pair or a letter from its accents.
    static QString firstCharacters(const QString &text, qsizetype limit);

private:
    // Events never span blocks; a block is filled up to about this size.
    static constexpr qsizetype blockBytes = 64 * 1024;

    QList<QByteArray> m_blocks;
    qsizetype m_size = 0;
};
