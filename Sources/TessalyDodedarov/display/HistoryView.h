#pragma once

#include "display/CaptionAppearance.h"
#include "display/HistoryText.h"
#include "model/CaptionLine.h"
#include "model/DisplayMode.h"
#include "shell/CaptionParts.h"

#include <QList>
#include <QPointer>
#include <QSet>
#include <QWidget>

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
    static QList<HistoryText::Paragraph> paragraphs(const Inputs &inputs);

    HistoryTextView *textView() const { return m_text; }
    // Whether the top fade is drawn now.
    bool fades() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    class Fade;
    HistoryTextView *m_text;
    QWidget *m_fade;
    std::optional<Inputs> m_inputs;
};
