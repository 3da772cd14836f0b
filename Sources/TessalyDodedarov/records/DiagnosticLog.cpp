#include "records/DiagnosticLog.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

namespace {

bool isSurrogate(char16_t u) { return u >= 0xD800 && u < 0xE000; }

// UTF-16 order puts U+E000..U+FFFF after the supplementary planes; moving the
// surrogates above them turns unit order into code-point order.
char16_t codePointRank(char16_t u)
{
    if (isSurrogate(u))
        return char16_t(u + 0x2000);
    if (u >= 0xE000)
        return char16_t(u - 0x800);
    return u;
}

bool codePointLess(QStringView a, QStringView b)
{
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x != y)
            return codePointRank(x) < codePointRank(y);
    }
    return a.size() < b.size();
}

// A text with every unpaired surrogate replaced by U+FFFD: UTF-8 can't carry
// one, and a JSON reader would reject or mangle it.
QString wellFormed(const QString &text)
{
    QString out = text;
    const qsizetype n = out.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = out[i];
        if (c.isHighSurrogate() && i + 1 < n && out[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        if (c.isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

void appendEscapedChar(QString &out, char16_t u)
{
    switch (u) {
    case u'"': out += QLatin1String("\\\""); return;
    case u'\\': out += QLatin1String("\\\\"); return;
    case u'/': out += QLatin1String("\\/"); return;
    case u'\b': out += QLatin1String("\\b"); return;
    case u'\f': out += QLatin1String("\\f"); return;
    case u'\n': out += QLatin1String("\\n"); return;
    case u'\r': out += QLatin1String("\\r"); return;
    case u'\t': out += QLatin1String("\\t"); return;
    default: break;
    }
    static const char hex[] = "0123456789abcdef";
    const char text[] = {'\\', 'u', '0', '0', hex[(u >> 4) & 0xF], hex[u & 0xF]};
    out += QLatin1String(text, 6);
}

// A JSON string: the quotes and the text with the characters JSON requires
// escaped, "/" too; everything else as it is, so non-ASCII stays readable.
void appendString(QString &out, QStringView text)
{
    out += u'"';
    const qsizetype n = text.size();
    qsizetype run = 0;
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u >= 0x20 && u != u'"' && u != u'\\' && u != u'/' && !isSurrogate(u))
            continue;
        if (isSurrogate(u) && QChar::isHighSurrogate(u) && i + 1 < n && text[i + 1].isLowSurrogate()) {
            ++i;
            continue;
        }
        out += text.sliced(run, i - run);
        if (isSurrogate(u))
            out += QChar(QChar::ReplacementCharacter);
        else
            appendEscapedChar(out, u);
        run = i + 1;
    }
    out += text.sliced(run);
    out += u'"';
}

// t to one decimal, halves away from zero, in the shortest plain form that
// reads back as the same number: 12.3, 125, and 0 (never "0.0" or "-0").
bool appendTime(QString &out, double t)
{
    if (!std::isfinite(t))
        return false;
    const double tenths = std::round(t * 10);
    if (!std::isfinite(tenths))
        return false;
    const double value = tenths / 10;
    if (value == 0) {
        out += u'0';
        return true;
    }
    char buffer[400];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (written.ec != std::errc())
        return false;
    out += QLatin1String(buffer, written.ptr - buffer);
    return true;
}

bool appendLine(QString &out, const DiagnosticEvent &event)
{
    // Only the event's own "t" and "kind" go under those names; a field that
    // uses one moves to "field_" + its name (again, should that be taken).
    const QString timeKey = QStringLiteral("t");
    const QString kindKey = QStringLiteral("kind");
    std::vector<std::pair<QString, const QString *>> entries;
    entries.reserve(size_t(event.fields.size()) + 2);
    entries.emplace_back(timeKey, nullptr);
    entries.emplace_back(kindKey, &event.kind);
    for (auto it = event.fields.cbegin(); it != event.fields.cend(); ++it) {
        QString key = it.key();
        if (key == timeKey || key == kindKey) {
            do
                key.prepend(QLatin1String("field_"));
            while (event.fields.contains(key));
        }
        entries.emplace_back(wellFormed(key), &it.value());
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto &a, const auto &b) { return codePointLess(a.first, b.first); });

    out += u'{';
    bool first = true;
    for (const auto &[key, value] : entries) {
        if (!first)
            out += u',';
        first = false;
        appendString(out, key);
        out += u':';
        if (value) {
            appendString(out, *value);
        } else if (!appendTime(out, event.t)) {
            return false;
        }
    }
    out += u'}';
    return true;
}

// The packed form of an event: its time as the bytes of a double, then its kind, the number of
// fields and each field's key and value. A number is written seven bits a byte, low bits first,
// the top bit set on every byte but the last. A text is a number, its length in UTF-16 units
// times two, plus one when its units follow as UTF-16; without, they follow as Latin-1, one
// byte each, which every text without a unit above U+00FF can be, and that is most of them.
void putNumber(QByteArray &out, quint64 n)
{
    while (n >= 0x80) {
        out.append(char((n & 0x7F) | 0x80));
        n >>= 7;
    }
    out.append(char(n));
}

void putText(QByteArray &out, QStringView text)
{
    const bool wide = std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; });
    putNumber(out, quint64(text.size()) * 2 + (wide ? 1 : 0));
    if (wide) {
        out.append(reinterpret_cast<const char *>(text.utf16()), text.size() * qsizetype(sizeof(char16_t)));
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char *bytes = out.data() + at;
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes[i] = char(text[i].unicode());
}

// Reads the packed events of one block in order.
class Reader final {
public:
    explicit Reader(const QByteArray &block) : m_at(block.constData()), m_end(block.constData() + block.size()) {}

    bool atEnd() const { return m_at >= m_end; }
    double time()
    {
        double t = 0;
        std::memcpy(&t, m_at, sizeof t);
        m_at += sizeof t;
        return t;
    }
    quint64 number()
    {
        quint64 n = 0;
        for (int shift = 0;; shift += 7) {
            const auto byte = quint8(*m_at++);
            n |= quint64(byte & 0x7F) << shift;
            if (!(byte & 0x80))
                return n;
        }
    }
    QString text()
    {
        const quint64 header = number();
        const auto length = qsizetype(header / 2);
        if (!(header & 1)) {
            const QString text = QString::fromLatin1(m_at, length);
            m_at += length;
            return text;
        }
        // The block keeps no alignment for the units: copied byte by byte.
        QString text(length, Qt::Uninitialized);
        std::memcpy(text.data(), m_at, size_t(length) * sizeof(char16_t));
        m_at += length * qsizetype(sizeof(char16_t));
        return text;
    }
    void skipText()
    {
        const quint64 header = number();
        m_at += qsizetype(header / 2) * ((header & 1) ? 2 : 1);
    }

private:
    const char *m_at;
    const char *m_end;
};

} // namespace

QString DiagnosticLog::firstCharacters(const QString &text, qsizetype limit)
{
    // No character is shorter than one UTF-16 unit: a short text is whole.
    if (text.size() <= limit)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype end = 0;
    for (qsizetype n = 0; n < limit; ++n) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
    }
    return text.left(end);
}

QString DiagnosticEvent::jsonLine() const
{
    QString line;
    if (!appendLine(line, *this))
        return {};
    return line;
}

void DiagnosticLog::add(double t, const QString &kind, const QMap<QString, QString> &fields)
{
    if (m_size >= maxEvents)
        return;
    QByteArray record;
    record.append(reinterpret_cast<const char *>(&t), sizeof t);
    putText(record, kind);
    putNumber(record, quint64(fields.size()));
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        putText(record, it.key());
        putText(record, it.value().size() > maxFieldCharacters ? firstCharacters(it.value(), maxFieldCharacters)
                                                                 : it.value());
    }
    // A block that is full is left as it is: appending past its capacity would copy it.
    if (m_blocks.isEmpty() || m_blocks.last().size() + record.size() > m_blocks.last().capacity()) {
        QByteArray block;
        block.reserve(std::max(blockBytes, record.size()));
        m_blocks.append(block);
    }
    m_blocks.last().append(record);
    m_size += 1;
}

qsizetype DiagnosticLog::count(const QString &kind) const
{
    qsizetype n = 0;
    for (const QByteArray &block : m_blocks) {
        for (Reader reader(block); !reader.atEnd();) {
            reader.time();
            if (reader.text() == kind)
                n += 1;
            for (quint64 fields = reader.number(); fields > 0; --fields) {
                reader.skipText();
                reader.skipText();
            }
        }
    }
    return n;
}

QList<DiagnosticEvent> DiagnosticLog::events() const
{
    QList<DiagnosticEvent> out;
    out.reserve(m_size);
    for (const QByteArray &block : m_blocks) {
        for (Reader reader(block); !reader.atEnd();) {
            DiagnosticEvent event;
            event.t = reader.time();
            event.kind = reader.text();
            for (quint64 fields = reader.number(); fields > 0; --fields) {
                QString key = reader.text();
                event.fields.insert(key, reader.text());
            }
            out.append(std::move(event));
        }
    }
    return out;
}

QString DiagnosticLog::jsonl(const QList<DiagnosticEvent> &events)
{
    if (events.isEmpty())
        return QStringLiteral("\n");
    // A three-hour meeting's file runs to megabytes: one allocation of about
    // the right size instead of repeated growth, and no more than needed.
    qsizetype estimate = 0;
    for (const DiagnosticEvent &event : events) {
        estimate += 32 + event.kind.size();
        for (auto it = event.fields.cbegin(); it != event.fields.cend(); ++it)
            estimate += 6 + it.key().size() + it.value().size();
    }
    QString out;
    out.reserve(estimate + estimate / 16);
    for (const DiagnosticEvent &event : events) {
        const qsizetype start = out.size();
        // An event that can't be written leaves an empty line, as documented.
        if (!appendLine(out, event))
            out.truncate(start);
        out += u'\n';
    }
    return out;
}
