#pragma once

#include <QImage>
#include <QSize>
#include <QTextFormat>

class QTextDocument;
class QWidget;

// The soft drop shadow under outlined text: the glyphs of the fragments that carry a shadow
// strength, drawn black and blurred, over the visible part of a scrolling document. Painting
// shadows glyph by glyph costs, so the image is kept until the text, the scroll position or
// the size changes. Owned by the history text view, which marks it stale on every edit.
class TextShadow final {
public:
    // Outlined text carries its shadow's strength (the text's own alpha) in this property; the
    // separators and anything else without it cast no shadow.
    static constexpr int alphaProperty = QTextFormat::UserProperty + 1;

    void invalidate() { m_stale = true; }
    // Paints the shadow of the document scrolled to `offset` onto the viewport, before the text
    // is drawn over it.
    void paintUnder(QWidget *viewport, const QTextDocument *document, int offset);

private:
    const QImage &image(const QTextDocument *document, int offset, QSize size, qreal ratio);

    QImage m_image;
    bool m_stale = true;
    int m_offset = 0;
    QSize m_size;
    qreal m_ratio = 0;
};
