#include "display/HistoryView.h"

#include "display/Colors.h"
#include "display/HistoryTextView.h"
#include "captions/ChineseScript.h"
#include "speech/SpeechLanguage.h"

#include <QLinearGradient>
#include <QPainter>
#include <QVBoxLayout>

// The gradient over the top edge; clicks and scrolling pass through to the text.
class HistoryView::Fade final : public QWidget {
public:
    explicit Fade(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    QColor color;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, 0, height());
        QColor clear = color;
        clear.setAlphaF(0);
        gradient.setColorAt(0, color);
        gradient.setColorAt(1, clear);
        painter.fillRect(rect(), gradient);
    }
};

HistoryView::HistoryView(HistoryScrollState *scroll, QWidget *parent)
    : QWidget(parent)
    , m_text(new HistoryTextView(scroll, this))
    , m_fade(new Fade(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_text);
    m_fade->hide();
}

std::optional<HistoryText::Paragraph> HistoryView::shown(HistoryText::Paragraph p, const Inputs &in)
{
    if (in.parts.traditional) {
        if (SpeechLanguage(p.primary) == SpeechLanguage::chinese)
            p.primary = ChineseScript::toTraditional(p.primary);
        if (SpeechLanguage(p.live) == SpeechLanguage::chinese)
            p.live = ChineseScript::toTraditional(p.live);
    }
    if (in.mode == DisplayMode::both && !(in.parts.chinese && in.parts.english && in.parts.original))
        return HistoryText::filter(p, in.parts);
    return p;
}

QList<HistoryText::Paragraph> HistoryView::finish(QList<HistoryText::Paragraph> result, const Inputs &in)
{
    // While recognition runs older paragraphs keep their English.
    if (in.mode == DisplayMode::both && in.parts.chinese && !in.live && !in.parts.olderEnglish)
        result = HistoryText::chineseOnlyWhenOlder(std::move(result));
    return HistoryText::markLatest(std::move(result));
}

QList<HistoryText::Paragraph> HistoryView::paragraphs(const Inputs &in)
{
    QList<HistoryText::Paragraph> all =
        HistoryText::allParagraphs(in.lines, in.mode, in.pending, in.liveEnglish, in.liveInline);
    QList<HistoryText::Paragraph> result;
    result.reserve(all.size());
    for (HistoryText::Paragraph &p : all) {
        if (std::optional<HistoryText::Paragraph> kept = shown(std::move(p), in))
            result.append(std::move(*kept));
    }
    return finish(std::move(result), in);
}

QList<HistoryText::Paragraph> HistoryView::cachedParagraphs(const Inputs &in)
{
    LineCache &cache = m_cache;
    qsizetype keep = 0;
    if (cache.valid && cache.mode == in.mode && cache.pending == in.pending && cache.parts == in.parts) {
        const qsizetype common = std::min(cache.lines.size(), in.lines.size());
        if (cache.lines.constData() == in.lines.constData() && cache.lines.size() == in.lines.size()) {
            keep = common;
        } else {
            while (keep < common && cache.lines.at(keep) == in.lines.at(keep))
                ++keep;
        }
    } else {
        cache = LineCache();
        cache.valid = true;
        cache.mode = in.mode;
        cache.pending = in.pending;
        cache.parts = in.parts;
    }
    const qsizetype count = in.lines.size();
    if (keep < cache.shown.size() || keep < count)
        cache.lastRaw.reset();
    cache.shown.resize(keep);
    cache.shown.reserve(count);
    for (qsizetype i = keep; i < count; ++i) {
        HistoryText::Paragraph raw = HistoryText::lineParagraph(in.lines.at(i), in.mode, in.pending);
        cache.shown.append(shown(raw, in));
        if (i + 1 == count)
            cache.lastRaw = std::move(raw);
    }
    // Lines taken away from the end: the new last line's paragraph is made again.
    if (count > 0 && !cache.lastRaw)
        cache.lastRaw = HistoryText::lineParagraph(in.lines.last(), in.mode, in.pending);
    cache.lines = in.lines;

    // The live text changes at most the last line's paragraph, or adds one after it.
    QList<HistoryText::Paragraph> tail;
    if (count > 0)
        tail.append(*cache.lastRaw);
    HistoryText::addLive(tail, in.lines, in.mode, in.liveEnglish, in.liveInline);

    QList<HistoryText::Paragraph> result;
    result.reserve(count + 1);
    for (qsizetype i = 0; i + 1 < count; ++i) {
        if (const std::optional<HistoryText::Paragraph> &p = cache.shown.at(i))
            result.append(*p);
    }
    for (qsizetype i = 0; i < tail.size(); ++i) {
        if (i == 0 && count > 0 && tail.at(0) == *cache.lastRaw) {
            if (const std::optional<HistoryText::Paragraph> &p = cache.shown.last())
                result.append(*p);
        } else if (std::optional<HistoryText::Paragraph> p = shown(tail.at(i), in)) {
            result.append(std::move(*p));
        }
    }
    return finish(std::move(result), in);
}

bool HistoryView::setInputs(const Inputs &inputs)
{
    if (m_inputs && *m_inputs == inputs)
        return false;
    m_inputs = inputs;
    m_text->setPaused(inputs.paused);
    m_text->setParagraphs(cachedParagraphs(inputs), inputs.appearance);
    static_cast<Fade *>(m_fade)->color = Colors::toQColor(inputs.appearance.background);
    m_fade->setVisible(fades());
    m_fade->update();
    return true;
}

bool HistoryView::fades() const
{
    return m_inputs && m_inputs->browsing && m_inputs->appearance.background.a >= 0.5;
}

void HistoryView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_fade->setGeometry(0, 0, width(), 28);
    m_fade->raise();
}
