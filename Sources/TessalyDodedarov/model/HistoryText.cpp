#include "model/HistoryText.h"

#include "speech/Graphemes.h"
#include "speech/Segmenter.h"
#include "speech/SpeechLanguage.h"

const QString HistoryText::ellipsis = QStringLiteral("…");

namespace {

bool hasText(const QString &primary)
{
    return !primary.isEmpty() && primary != HistoryText::ellipsis;
}

} // namespace

HistoryText::Paragraph HistoryText::lineParagraph(const CaptionLine &line, DisplayMode mode, const QSet<int> &pending)
{
    Paragraph p;
    p.turn = line.newTurn;
    p.primaryDim = pending.contains(line.id);
    p.highlights = line.fixed;
    const SpeechLanguage language = line.language ? *line.language : SpeechLanguage(line.english);
    const QString shown = !line.chinese.isEmpty() ? line.chinese
        : line.finished                            ? line.english
                                                   : ellipsis;
    switch (mode) {
    case DisplayMode::both:
        if (!line.alt.isEmpty() || language == SpeechLanguage::other) {
            p.primary = !line.chinese.isEmpty() ? line.chinese : line.finished ? QString() : ellipsis;
            p.secondary = line.alt;
            p.original = line.english;
        } else if (language == SpeechLanguage::chinese) {
            p.primary = line.english;
            p.secondary = line.chinese;
        } else {
            p.primary = shown;
            p.secondary = line.english == shown ? QString() : line.english;
        }
        break;
    case DisplayMode::chinese:
        p.primary = language == SpeechLanguage::chinese ? line.english : shown;
        break;
    case DisplayMode::english:
        p.primary = language == SpeechLanguage::chinese ? shown : line.english;
        break;
    }
    return p;
}

void HistoryText::addLive(QList<Paragraph> &out, const QList<CaptionLine> &lines, DisplayMode mode,
                          const QString &live, bool liveInline)
{
    if (live.isEmpty())
        return;
    if (liveInline) {
        if (!lines.isEmpty() && !lines.last().finished && !out.isEmpty()) {
            const QString &english = lines.last().english;
            const bool space = !english.isEmpty()
                && Segmenter::needsSpace(Graphemes::last(english), Graphemes::first(live));
            out.last().live = space ? QStringLiteral(" ") + live : live;
        } else {
            Paragraph p;
            p.live = live;
            out.append(p);
        }
    } else if (mode == DisplayMode::both) {
        Paragraph p;
        if (SpeechLanguage(live) == SpeechLanguage::chinese)
            p.live = live;
        else
            p.secondary = live;
        out.append(p);
    }
}

QList<HistoryText::Paragraph> HistoryText::allParagraphs(const QList<CaptionLine> &lines, DisplayMode mode,
                                                         const QSet<int> &pending, const QString &live,
                                                         bool liveInline)
{
    QList<Paragraph> out;
    out.reserve(lines.size() + 1);
    for (const CaptionLine &line : lines)
        out.append(lineParagraph(line, mode, pending));
    addLive(out, lines, mode, live, liveInline);
    return out;
}

std::optional<HistoryText::Paragraph> HistoryText::filter(const Paragraph &paragraph, const CaptionParts &parts)
{
    QString primary = paragraph.primary;
    bool primaryDim = paragraph.primaryDim;
    QString live = paragraph.live;
    QString secondary = paragraph.secondary;
    // English never stays in the first-language slot.
    if (hasText(primary) && SpeechLanguage(primary) == SpeechLanguage::english) {
        if (secondary.isEmpty())
            secondary = primary;
        primary.clear();
        primaryDim = false;
    }
    if (!live.isEmpty() && SpeechLanguage(live) != SpeechLanguage::chinese) {
        if (secondary.isEmpty())
            secondary = live;
        live.clear();
    }

    Paragraph out;
    out.turn = paragraph.turn;
    out.latest = paragraph.latest;
    out.highlights = paragraph.highlights;
    out.older = false;
    out.original = parts.original ? paragraph.original : QString();
    if (parts.chinese) {
        out.primary = primary;
        out.primaryDim = primaryDim;
        out.live = live;
        out.secondary = parts.english ? secondary : QString();
    } else {
        // The English moves up into the large style.
        out.primary = secondary;
    }
    if (out.primary.isEmpty() && out.live.isEmpty() && out.secondary.isEmpty() && out.original.isEmpty())
        return std::nullopt;
    return out;
}

QList<HistoryText::Paragraph> HistoryText::chineseOnlyWhenOlder(QList<Paragraph> paragraphs)
{
    int counted = 0;
    for (qsizetype i = paragraphs.size() - 1; i >= 0; --i) {
        Paragraph &p = paragraphs[i];
        if (!hasText(p.primary))
            continue;
        if (++counted <= 3)
            continue;
        if (!Graphemes::anyScalar(p.primary, [](char32_t c) { return Segmenter::isCJK(c); }))
            continue;
        p.secondary.clear();
        p.original.clear();
        p.older = true;
    }
    return paragraphs;
}

QList<HistoryText::Paragraph> HistoryText::markLatest(QList<Paragraph> paragraphs)
{
    if (paragraphs.isEmpty())
        return paragraphs;
    paragraphs.last().latest = true;
    if (paragraphs.size() >= 2 && paragraphs.last().primary.isEmpty())
        paragraphs[paragraphs.size() - 2].latest = true;
    return paragraphs;
}
