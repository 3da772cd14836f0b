#include "display/HistoryView.h"

#include "display/HistoryTextView.h"
#include "shell/ChineseScript.h"
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

QList<HistoryText::Paragraph> HistoryView::paragraphs(const Inputs &in)
{
    QList<HistoryText::Paragraph> result =
        HistoryText::allParagraphs(in.lines, in.mode, in.pending, in.liveEnglish, in.liveInline);
    if (in.parts.traditional) {
        for (HistoryText::Paragraph &p : result) {
            if (SpeechLanguage(p.primary) == SpeechLanguage::chinese)
                p.primary = ChineseScript::toTraditional(p.primary);
            if (SpeechLanguage(p.live) == SpeechLanguage::chinese)
                p.live = ChineseScript::toTraditional(p.live);
        }
    }
    const bool both = in.mode == DisplayMode::both;
    if (both && !(in.parts.chinese && in.parts.english && in.parts.original)) {
        QList<HistoryText::Paragraph> kept;
        kept.reserve(result.size());
        for (const HistoryText::Paragraph &p : result)
            if (std::optional<HistoryText::Paragraph> reduced = HistoryText::filter(p, in.parts))
                kept.append(*reduced);
        result = kept;
    }
    // While recognition runs older paragraphs keep their English.
    if (both && in.parts.chinese && !in.live && !in.parts.olderEnglish)
        result = HistoryText::chineseOnlyWhenOlder(result);
    return HistoryText::markLatest(result);
}

bool HistoryView::setInputs(const Inputs &inputs)
{
    if (m_inputs && *m_inputs == inputs)
        return false;
    m_inputs = inputs;
    m_text->setPaused(inputs.paused);
    m_text->update(paragraphs(inputs), inputs.appearance);
    const RGBA &background = inputs.appearance.background;
    static_cast<Fade *>(m_fade)->color = QColor::fromRgbF(float(background.r), float(background.g),
                                                          float(background.b), float(background.a));
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
