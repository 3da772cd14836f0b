#include "display/TextShadow.h"

#include <QAbstractTextDocumentLayout>
#include <QGlyphRun>
#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The shadow: black at 0.8 of the text's alpha, blurred over about 3 px, 1 px below the text.
constexpr double shadowStrength = 0.8;
constexpr int shadowBlur = 3;
constexpr int shadowDrop = 1;

// Three box blurs of the alpha channel come close to a Gaussian of about the blur radius. The
// image is premultiplied black, so the alpha is all there is.
void blurAlpha(QImage &image, int radius)
{
    const int width = image.width();
    const int height = image.height();
    if (radius < 1 || width == 0 || height == 0)
        return;
    const int window = 2 * radius + 1;
    std::vector<int> line(size_t(std::max(width, height)));
    const auto pass = [&](int count, int length, auto &&at) {
        for (int i = 0; i < count; ++i) {
            for (int k = 0; k < length; ++k)
                line[size_t(k)] = qAlpha(*at(i, k));
            int sum = 0;
            for (int k = 0; k < std::min(radius, length); ++k)
                sum += line[size_t(k)];
            for (int k = 0; k < length; ++k) {
                if (k + radius < length)
                    sum += line[size_t(k + radius)];
                if (k - radius - 1 >= 0)
                    sum -= line[size_t(k - radius - 1)];
                *at(i, k) = qRgba(0, 0, 0, sum / window);
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass(height, width, [&](int y, int x) { return reinterpret_cast<QRgb *>(image.scanLine(y)) + x; });
        pass(width, height, [&](int x, int y) { return reinterpret_cast<QRgb *>(image.scanLine(y)) + x; });
    }
}

} // namespace

void TextShadow::paintUnder(QWidget *viewport, const QTextDocument *document, int offset)
{
    const QImage &shadow = image(document, offset, viewport->size(), viewport->devicePixelRatioF());
    if (shadow.isNull())
        return;
    QPainter painter(viewport);
    painter.drawImage(QPointF(-shadowBlur, -shadowBlur + shadowDrop), shadow);
}

const QImage &TextShadow::image(const QTextDocument *document, int offset, QSize size, qreal ratio)
{
    if (!m_stale && offset == m_offset && size == m_size && ratio == m_ratio)
        return m_image;
    m_stale = false;
    m_offset = offset;
    m_size = size;
    m_ratio = ratio;

    // A margin of the blur radius round the visible area, so that the blur has what it spreads.
    const QSize padded = size + QSize(2 * shadowBlur, 2 * shadowBlur);
    m_image = QImage(padded * ratio, QImage::Format_ARGB32_Premultiplied);
    m_image.setDevicePixelRatio(ratio);
    m_image.fill(Qt::transparent);
    QPainter painter(&m_image);
    painter.translate(shadowBlur, shadowBlur - offset);
    QAbstractTextDocumentLayout *layout = document->documentLayout();
    const double top = offset - shadowBlur - shadowDrop;
    const double bottom = offset + size.height() + shadowBlur;
    const int first = layout->hitTest(QPointF(0, std::max(top, 0.0)), Qt::FuzzyHit);
    for (QTextBlock block = first >= 0 ? document->findBlock(first) : document->begin(); block.isValid();
         block = block.next()) {
        const QRectF bounds = layout->blockBoundingRect(block);
        if (bounds.top() > bottom)
            break;
        if (bounds.bottom() < top)
            continue;
        const QTextLayout *text = block.layout();
        for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QVariant alpha = fragment.charFormat().property(alphaProperty);
            if (!alpha.isValid())
                continue;
            painter.setPen(QColor::fromRgbF(0, 0, 0, float(shadowStrength * alpha.toDouble())));
            const int from = fragment.position() - block.position();
            for (int i = 0; i < text->lineCount(); ++i) {
                for (const QGlyphRun &run : text->lineAt(i).glyphRuns(from, fragment.length()))
                    painter.drawGlyphRun(text->position(), run);
            }
        }
    }
    painter.end();
    blurAlpha(m_image, std::max(1, int(std::lround(ratio))));
    return m_image;
}
