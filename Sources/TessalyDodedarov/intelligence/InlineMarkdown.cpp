#include "intelligence/InlineMarkdown.h"

#include <QUrl>

#include <optional>

namespace {

// "Non-blank" in the sense of the marks: any Unicode white space is a blank.
bool isBlank(QChar c)
{
    return c.isSpace();
}

// Inside a word, an underscore is part of a name (snake_case), never a mark.
bool isWordChar(QChar c)
{
    return c.isLetterOrNumber();
}

// Only an ASCII punctuation character can be escaped with a backslash; before anything else
// the backslash is an ordinary character (a Windows path keeps its backslashes).
bool isEscapable(QChar c)
{
    static const QString punctuation = QStringLiteral("!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~");
    return c.unicode() < 128 && punctuation.contains(c);
}

qsizetype runLength(QStringView s, qsizetype from, QChar c)
{
    qsizetype end = from;
    while (end < s.size() && s[end] == c)
        ++end;
    return end - from;
}

// The start of a run of exactly n backticks at or after from, or -1.
qsizetype findCodeClose(QStringView s, qsizetype from, qsizetype n)
{
    qsizetype k = from;
    while (k < s.size()) {
        if (s[k] == u'`') {
            const qsizetype m = runLength(s, k, u'`');
            if (m == n)
                return k;
            k += m;
        } else {
            ++k;
        }
    }
    return -1;
}

// A closed code span starting at i: its content lies between runs of the same length and
// neither begins nor ends with a blank.
std::optional<std::pair<qsizetype, qsizetype>> codeSpanAt(QStringView s, qsizetype i)
{
    const qsizetype n = runLength(s, i, u'`');
    const qsizetype close = findCodeClose(s, i + n, n);
    if (close <= i + n || isBlank(s[i + n]) || isBlank(s[close - 1]))
        return std::nullopt;
    return std::make_pair(n, close);
}

// The start of a closing run of exactly n marks c after from, or -1. Escaped characters and
// code spans are stepped over: a mark inside them closes nothing.
qsizetype findEmphasisClose(QStringView s, qsizetype from, qsizetype n, QChar c)
{
    qsizetype k = from;
    while (k < s.size()) {
        const QChar here = s[k];
        if (here == u'\\' && k + 1 < s.size() && isEscapable(s[k + 1])) {
            k += 2;
        } else if (here == u'`') {
            const auto code = codeSpanAt(s, k);
            k = code ? code->second + code->first : k + runLength(s, k, u'`');
        } else if (here == c) {
            const qsizetype m = runLength(s, k, c);
            const bool closes = m == n && k > from && !isBlank(s[k - 1])
                && (c != u'_' || k + m >= s.size() || !isWordChar(s[k + m]));
            if (closes)
                return k;
            k += m;
        } else {
            ++k;
        }
    }
    return -1;
}

// The address a link target may become: http and https with a host, mailto with an address.
// Strict parsing refuses quotes, blanks and other characters a URL cannot hold.
std::optional<QString> allowedLink(QStringView target)
{
    const QUrl url(target.toString(), QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    const QString scheme = url.scheme().toLower();
    const bool web = (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
    const bool mail = scheme == u"mailto" && !url.path().isEmpty();
    if (!web && !mail)
        return std::nullopt;
    return url.toString(QUrl::FullyEncoded);
}

struct Link {
    qsizetype textStart = 0;
    qsizetype textEnd = 0;
    qsizetype targetStart = 0;
    qsizetype targetEnd = 0;
    qsizetype end = 0;
};

// "[text](target)" starting at i, with non-empty text and a target without blanks.
std::optional<Link> linkAt(QStringView s, qsizetype i)
{
    qsizetype k = i + 1;
    int depth = 0;
    for (; k < s.size(); ++k) {
        if (s[k] == u'\\' && k + 1 < s.size() && isEscapable(s[k + 1])) {
            ++k;
        } else if (s[k] == u'[') {
            ++depth;
        } else if (s[k] == u']') {
            if (depth == 0)
                break;
            --depth;
        }
    }
    if (k >= s.size() || k == i + 1 || k + 1 >= s.size() || s[k + 1] != u'(')
        return std::nullopt;
    Link link;
    link.textStart = i + 1;
    link.textEnd = k;
    link.targetStart = k + 2;
    // Parentheses inside an address (as in encyclopedia pages) are allowed when balanced.
    depth = 0;
    for (qsizetype m = link.targetStart; m < s.size(); ++m) {
        const QChar c = s[m];
        if (isBlank(c))
            return std::nullopt;
        if (c == u'(') {
            ++depth;
        } else if (c == u')') {
            if (depth == 0) {
                if (m == link.targetStart)
                    return std::nullopt;
                link.targetEnd = m;
                link.end = m + 1;
                return link;
            }
            --depth;
        }
    }
    return std::nullopt;
}

struct Style {
    bool strong = false;
    bool emphasis = false;
    QString link;
};

class Parser final {
public:
    QList<InlineMarkdown::Span> spans;

    void parse(QStringView s, const Style &style, bool inLink)
    {
        QString literal;
        const auto flush = [&] {
            add(literal, style, false);
            literal.clear();
        };
        qsizetype i = 0;
        while (i < s.size()) {
            const QChar c = s[i];
            if (c == u'\\' && i + 1 < s.size() && isEscapable(s[i + 1])) {
                literal += s[i + 1];
                i += 2;
            } else if (c == u'`') {
                if (const auto code = codeSpanAt(s, i)) {
                    flush();
                    const auto [n, close] = *code;
                    add(s.mid(i + n, close - i - n).toString(), style, true);
                    i = close + n;
                } else {
                    const qsizetype n = runLength(s, i, c);
                    literal += s.mid(i, n);
                    i += n;
                }
            } else if (c == u'[' && !inLink) {
                const std::optional<Link> link = linkAt(s, i);
                const std::optional<QString> target
                    = link ? allowedLink(s.mid(link->targetStart, link->targetEnd - link->targetStart))
                           : std::nullopt;
                if (link && target) {
                    flush();
                    Style inner = style;
                    inner.link = *target;
                    parse(s.mid(link->textStart, link->textEnd - link->textStart), inner, true);
                    i = link->end;
                } else if (link) {
                    // Any other target (javascript:, file:, a relative path) stays as typed.
                    literal += s.mid(i, link->end - i);
                    i = link->end;
                } else {
                    literal += c;
                    ++i;
                }
            } else if (c == u'*' || c == u'_') {
                const qsizetype n = runLength(s, i, c);
                const bool opens = n <= 3 && i + n < s.size() && !isBlank(s[i + n])
                    && (c != u'_' || i == 0 || !isWordChar(s[i - 1]));
                const qsizetype close = opens ? findEmphasisClose(s, i + n, n, c) : -1;
                if (close >= 0) {
                    flush();
                    Style inner = style;
                    inner.strong = inner.strong || n >= 2;
                    inner.emphasis = inner.emphasis || n != 2;
                    parse(s.mid(i + n, close - i - n), inner, inLink);
                    i = close + n;
                } else {
                    literal += s.mid(i, n);
                    i += n;
                }
            } else {
                literal += c;
                ++i;
            }
        }
        flush();
    }

private:
    void add(const QString &text, const Style &style, bool code)
    {
        if (text.isEmpty())
            return;
        if (!spans.isEmpty()) {
            InlineMarkdown::Span &last = spans.last();
            if (last.strong == style.strong && last.emphasis == style.emphasis && last.code == code
                && last.link == style.link) {
                last.text += text;
                return;
            }
        }
        spans.append({text, style.strong, style.emphasis, code, style.link});
    }
};

} // namespace

QList<InlineMarkdown::Span> InlineMarkdown::spans(QStringView line)
{
    Parser parser;
    parser.parse(line, Style(), false);
    return parser.spans;
}

QString InlineMarkdown::toHtml(const QString &text)
{
    QString html = QStringLiteral("<span style=\"white-space: pre-wrap;\">");
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    for (qsizetype l = 0; l < lines.size(); ++l) {
        if (l > 0)
            html += QStringLiteral("<br>");
        for (const Span &span : spans(lines[l])) {
            QString piece = span.text.toHtmlEscaped();
            if (span.code)
                piece = QStringLiteral("<code>") + piece + QStringLiteral("</code>");
            if (span.emphasis)
                piece = QStringLiteral("<i>") + piece + QStringLiteral("</i>");
            if (span.strong)
                piece = QStringLiteral("<b>") + piece + QStringLiteral("</b>");
            if (!span.link.isEmpty())
                piece = QStringLiteral("<a href=\"%1\">%2</a>").arg(span.link.toHtmlEscaped(), piece);
            html += piece;
        }
    }
    return html + QStringLiteral("</span>");
}
