#pragma once

#include "captions/CaptionAppearance.h"
#include "model/HistoryText.h"
#include "model/CaptionLine.h"
#include "model/DisplayMode.h"
#include "captions/CaptionParts.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <optional>

class HistoryScrollState;
class HistoryTextView;

// The caption history inside the caption panel: turns the model's lines into paragraphs
// (script, caption parts, older English, the newest marked) and shows them in the history
// text view, with a fade over the top while the user browses. It re-renders only when one of
// its inputs changed. Owned by the caption view; main thread only.
class HistoryView final : public QWidget {
    Q_OBJECT

public:
    struct Inputs {
        QList<CaptionLine> lines;
        DisplayMode mode = DisplayMode::both;
        QSet<int> pending;
        CaptionAppearance appearance;
        QString liveEnglish;
        bool liveInline = false;
        CaptionParts parts;
        HistoryScrollState *scroll = nullptr; // compared by identity
        bool paused = false;
        bool live = false;
        bool browsing = false;

        bool operator==(const Inputs &) const = default;
    };

    explicit HistoryView(HistoryScrollState *scroll, QWidget *parent = nullptr);

    // Answers whether anything was rebuilt.
    bool setInputs(const Inputs &inputs);
    // The paragraphs the inputs show, made from scratch.
    static QList<HistoryText::Paragraph> paragraphs(const Inputs &inputs);
    // The same paragraphs, reusing those of lines that did not change since the last call: a
    // new word of live text must not cost a pass over the whole meeting.
    QList<HistoryText::Paragraph> cachedParagraphs(const Inputs &inputs);

    HistoryTextView *textView() const { return m_text; }
    // Whether the top fade is drawn now.
    bool fades() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    class Fade;
    // Per line: its paragraph after the script and the caption parts, for the lines, mode,
    // pending set and parts they were made with; and the last line's paragraph before them,
    // which the live text changes (the others are not needed again).
    struct LineCache {
        bool valid = false;
        QList<CaptionLine> lines;
        DisplayMode mode = DisplayMode::both;
        QSet<int> pending;
        CaptionParts parts;
        std::optional<HistoryText::Paragraph> lastRaw;
        QList<std::optional<HistoryText::Paragraph>> shown;
    };
    static std::optional<HistoryText::Paragraph> shown(HistoryText::Paragraph paragraph, const Inputs &inputs);
    static QList<HistoryText::Paragraph> finish(QList<HistoryText::Paragraph> paragraphs, const Inputs &inputs);

    LineCache m_cache;
    HistoryTextView *m_text;
    QWidget *m_fade;
    std::optional<Inputs> m_inputs;
};
