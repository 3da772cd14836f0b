#include "shell/StatsView.h"

#include "display/InterfaceFonts.h"
#include "model/AppModel.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QEasingCurve>
#include <QFontMetrics>
#include <QFrame>
#include <QGraphicsSimpleTextItem>
#include <QHBoxLayout>
#include <QHorizontalStackedBarSeries>
#include <QLabel>
#include <QLineSeries>
#include <QStackedBarSeries>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

const QString dash = QStringLiteral("—");

QColor secondary()
{
    return QApplication::palette().color(QPalette::PlaceholderText);
}

QLabel *greyLabel(const QString &text, double factor)
{
    auto *label = new QLabel(text);
    QFont font = label->font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * factor);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, secondary());
    label->setPalette(palette);
    return label;
}

QString seconds(double value)
{
    return QString::asprintf("%.1f 秒", value);
}

QChart *newChart()
{
    auto *chart = new QChart;
    chart->legend()->hide();
    chart->setBackgroundVisible(false);
    chart->setMargins(QMargins(0, 0, 0, 0));
    chart->setAnimationOptions(QChart::SeriesAnimations);
    chart->setAnimationDuration(300);
    chart->setAnimationEasingCurve(QEasingCurve::OutCubic);
    return chart;
}

// The value axis from 0 to a round top, ticked at round steps (1, 2, 2.5 or 5 times a power of
// ten) so that every tick label is a short number.
void roundAxis(QValueAxis *axis, double top)
{
    top = std::max(top, 1e-9);
    const double rough = top / 4;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = 10 * power;
    for (double factor : {1.0, 2.0, 2.5, 5.0}) {
        if (factor * power >= rough) {
            step = factor * power;
            break;
        }
    }
    const int steps = std::max(1, int(std::ceil(top / step - 1e-9)));
    axis->setRange(0, steps * step);
    axis->setTickCount(steps + 1);
    axis->setLabelFormat(QStringLiteral("%g"));
}

// Height of a chart of rows: each row as tall as two lines of its labels, and room below for
// the value axis's labels and title.
int rowChartHeight(int rows)
{
    const int line = QFontMetrics(QApplication::font()).height();
    return std::max(110, rows * line * 2 + line * 3 + 12);
}

void clearChart(QChart *chart)
{
    chart->removeAllSeries();
    for (QAbstractAxis *axis : chart->axes())
        chart->removeAxis(axis), delete axis;
}

// Rows of a horizontal bar chart, each in its own colour: one set per row in a stacked series,
// holding a value only in its own row, so every row gets the colour of its own set.
void drawRows(QChart *chart, const QStringList &rows, const QList<double> &values, const QList<QColor> &colors,
              const QString &valueAxisName)
{
    clearChart(chart);
    // A category axis draws its first category at the bottom: the rows go in reversed, so the
    // first row is at the top, as read.
    const qsizetype n = rows.size();
    auto *series = new QHorizontalStackedBarSeries;
    for (int i = 0; i < n; ++i) {
        auto *set = new QBarSet(rows.at(i));
        for (int j = 0; j < n; ++j)
            set->append(n - 1 - i == j ? values.at(i) : 0.0);
        set->setColor(colors.at(i));
        set->setBorderColor(colors.at(i));
        series->append(set);
    }
    series->setBarWidth(0.6);
    chart->addSeries(series);
    auto *categories = new QBarCategoryAxis;
    QStringList bottomUp = rows;
    std::reverse(bottomUp.begin(), bottomUp.end());
    categories->append(bottomUp);
    chart->addAxis(categories, Qt::AlignLeft);
    series->attachAxis(categories);
    auto *valueAxis = new QValueAxis;
    valueAxis->setTitleText(valueAxisName);
    const double top = values.isEmpty() ? 1.0 : *std::max_element(values.begin(), values.end());
    // Room at the end of the longest bar for its annotation.
    roundAxis(valueAxis, top * 1.3);
    chart->addAxis(valueAxis, Qt::AlignBottom);
    series->attachAxis(valueAxis);
}

}

StatsView::StatsView(AppModel &model, QWidget *parent)
    : QScrollArea(parent)
    , m_model(model)
{
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto *page = new QWidget;
    auto *column = new QVBoxLayout(page);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(20);

    auto *tiles = new QHBoxLayout;
    tiles->setSpacing(10);
    for (int i = 0; i < 4; ++i)
        tiles->addWidget(tile(i), 1);
    column->addLayout(tiles);

    QLabel *partsTitle = nullptr;
    QLabel *usageTitle = nullptr;
    column->addWidget(block(QString(), m_latencyTitle, m_latencyPlaceholder, m_latencyView, 180));
    column->addWidget(block(QStringLiteral("时间花在哪一段（平均）"), partsTitle, m_partsPlaceholder, m_partsView,
                            rowChartHeight(3)));
    column->addWidget(block(QStringLiteral("翻译用量（词元）"), usageTitle, m_usagePlaceholder, m_usageView,
                            rowChartHeight(3)));
    m_latencyChart = m_latencyView->chart();
    // Named like the figures' labels, so the page's parts can be found by name.
    m_latencyView->setObjectName(QStringLiteral("latencyChart"));
    m_partsView->setObjectName(QStringLiteral("partsChart"));
    m_usageView->setObjectName(QStringLiteral("usageChart"));
    m_latencyPlaceholder->setText(QStringLiteral("开始翻译后，每出一句这里多一根柱子。"));
    m_partsPlaceholder->setText(QStringLiteral("还没有数据。"));
    m_usagePlaceholder->setText(QStringLiteral("这家翻译服务还没回报用量，或者还没开始翻译。"));

    QLabel *footnote = greyLabel(QStringLiteral("“讲话停下”按声音的音量判断，说完一句、有停顿的才量得到；"
                                                "讲个不停时句子在中途切出，只有断句和翻译两段。新会议清零。"),
                                 0.9);
    footnote->setWordWrap(true);
    column->addWidget(footnote);
    column->addStretch(1);
    setWidget(page);

    connect(m_partsView->chart(), &QChart::plotAreaChanged, this, &StatsView::placeLabels);
    connect(m_usageView->chart(), &QChart::plotAreaChanged, this, &StatsView::placeLabels);
    connect(m_latencyChart, &QChart::plotAreaChanged, this, &StatsView::placeLabels);

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &StatsView::refresh);
    refresh();
}

const QList<StatsView::PartColor> &StatsView::partColors()
{
    static const QList<PartColor> colors {
        {QStringLiteral("识别"), QColor(255, 149, 0)},
        {QStringLiteral("断句和排队"), QColor(175, 82, 222)},
        {QStringLiteral("翻译"), QColor(0, 122, 255)},
    };
    return colors;
}

QString StatsView::tokenText(int tokens)
{
    if (tokens < 10000)
        return QString::number(tokens);
    return QString::asprintf("%.1f 万", tokens / 10000.0);
}

QWidget *StatsView::tile(int index)
{
    static const QStringList titles {QStringLiteral("讲话停下到出字"), QStringLiteral("其中翻译"),
                                     QStringLiteral("识别"), QStringLiteral("缓存命中")};
    auto *frame = new QFrame;
    frame->setObjectName(QStringLiteral("figureTile"));
    frame->setStyleSheet(QStringLiteral("QFrame#figureTile { background: rgba(128, 128, 128, 20); border-radius: 8px; }"));
    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(2);
    layout->addWidget(greyLabel(titles.at(index), 0.9));
    auto *value = new QLabel;
    value->setObjectName(QStringLiteral("figureValue"));
    QFont font = InterfaceFonts::fixedWidth();
    font.setPixelSize(20);
    font.setWeight(QFont::DemiBold);
    value->setFont(font);
    layout->addWidget(value);
    QLabel *detail = greyLabel(QString(), 0.8);
    detail->setObjectName(QStringLiteral("figureDetail"));
    layout->addWidget(detail);
    m_tileValues.append(value);
    m_tileDetails.append(detail);
    return frame;
}

QWidget *StatsView::block(const QString &title, QLabel *&titleLabel, QLabel *&placeholder, QChartView *&view,
                          int height)
{
    auto *box = new QWidget;
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    titleLabel = new QLabel(title);
    QFont bold = titleLabel->font();
    bold.setWeight(QFont::DemiBold);
    titleLabel->setFont(bold);
    layout->addWidget(titleLabel);
    placeholder = greyLabel(QString(), 1.0);
    placeholder->setObjectName(QStringLiteral("chartPlaceholder"));
    placeholder->setMinimumHeight(60);
    placeholder->setAlignment(Qt::AlignCenter);
    placeholder->setWordWrap(true);
    placeholder->setAutoFillBackground(false);
    placeholder->setStyleSheet(QStringLiteral("QLabel { background: rgba(128, 128, 128, 15); border-radius: 8px; }"));
    layout->addWidget(placeholder);
    view = new QChartView(newChart());
    view->setRenderHint(QPainter::Antialiasing);
    view->setFixedHeight(height);
    layout->addWidget(view);
    return box;
}

void StatsView::refresh()
{
    const SessionStats stats = m_model.stats();
    const double billed = m_model.billedSeconds();

    const std::optional<double> average = stats.averageEndToEnd();
    const std::optional<double> p90 = stats.p90EndToEnd();
    const std::optional<double> translate = stats.averageTranslate();
    m_tileValues[0]->setText(average ? seconds(*average) : dash);
    m_tileDetails[0]->setText(p90 ? QStringLiteral("九成在 ") + seconds(*p90) + QStringLiteral(" 内")
                                  : QStringLiteral("平均"));
    m_tileValues[1]->setText(translate ? seconds(*translate) : dash);
    m_tileDetails[1]->setText(QStringLiteral("平均"));
    m_tileValues[2]->setText(QString::asprintf("%.1f 分钟", billed / 60.0));
    m_tileDetails[2]->setText(QString::number(stats.requests) + QStringLiteral(" 次翻译请求"));
    m_tileValues[3]->setText(stats.promptTokens >= 1
                                 ? QString::asprintf("%.0f%%", double(stats.cachedTokens) / stats.promptTokens * 100)
                                 : dash);
    m_tileDetails[3]->setText(QStringLiteral("输入词元"));

    drawLatency(stats);
    drawParts(stats);
    drawUsage(stats);
}

void StatsView::drawLatency(const SessionStats &stats)
{
    const QList<SessionStats::Sample> samples = stats.samples.mid(std::max<qsizetype>(0, stats.samples.size() - maxSamples));
    const std::optional<double> average = stats.averageEndToEnd();
    m_latencyTitle->setText(QStringLiteral("每一句的延迟（最近 %1 句）").arg(samples.size()));
    m_latencyPlaceholder->setVisible(samples.isEmpty());
    m_latencyView->setVisible(!samples.isEmpty());
    if (m_latencyDrawn && samples == m_shownSamples && average == m_shownAverage)
        return;
    m_latencyDrawn = true;
    m_shownSamples = samples;
    m_shownAverage = average;

    QChart *chart = m_latencyChart;
    clearChart(chart);
    delete m_averageLabel;
    m_averageLabel = nullptr;
    delete m_latencyUnit;
    m_latencyUnit = nullptr;
    if (samples.isEmpty())
        return;
    // Bottom to top: translation, cutting and queueing, recognition.
    auto *series = new QStackedBarSeries;
    series->setName(QStringLiteral("阶段"));
    const QStringList order {QStringLiteral("翻译"), QStringLiteral("断句和排队"), QStringLiteral("识别")};
    QStringList categories;
    QList<QBarSet *> sets;
    for (const QString &name : order) {
        auto *set = new QBarSet(name);
        for (const PartColor &part : partColors()) {
            if (part.name == name) {
                set->setColor(part.color);
                set->setBorderColor(part.color);
            }
        }
        sets.append(set);
    }
    double top = 0;
    for (const SessionStats::Sample &sample : samples) {
        categories.append(QString::number(sample.id));
        const double recognition = sample.recognition.value_or(0.0);
        sets[0]->append(sample.translate);
        sets[1]->append(sample.segmentation);
        sets[2]->append(recognition);
        top = std::max(top, sample.translate + sample.segmentation + recognition);
    }
    for (QBarSet *set : sets)
        series->append(set);
    chart->addSeries(series);
    auto *x = new QBarCategoryAxis;
    x->setTitleText(QStringLiteral("句子"));
    x->append(categories);
    x->setVisible(false);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    auto *y = new QValueAxis;
    if (average)
        top = std::max(top, *average);
    roundAxis(y, std::max(top * 1.15, 0.5));
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    // The axis's unit stands upright over its labels: a vertical axis turns its title on its
    // side, and one character turned in the chart's narrow margin reads as a blot. The top
    // margin makes room for it above the top label.
    m_latencyUnit = new QGraphicsSimpleTextItem(QStringLiteral("秒"), chart);
    m_latencyUnit->setFont(y->labelsFont());
    m_latencyUnit->setBrush(y->labelsBrush());
    const QFontMetricsF labels(y->labelsFont());
    chart->setMargins(QMargins(0, int(std::ceil(labels.height() * 1.5)) + 2, 0, 0));

    if (average) {
        auto *rule = new QLineSeries;
        rule->setName(QStringLiteral("平均"));
        rule->append(-0.5, *average);
        rule->append(samples.size() - 0.5, *average);
        QPen pen(secondary());
        pen.setWidthF(1);
        pen.setDashPattern({4, 3});
        rule->setPen(pen);
        chart->addSeries(rule);
        rule->attachAxis(x);
        rule->attachAxis(y);
    }
    // The annotation above the rule's leading end, inside the plot, clear of the axis labels.
    delete m_averageLabel;
    m_averageLabel = nullptr;
    if (average) {
        m_averageLabel = new QGraphicsSimpleTextItem(QStringLiteral("平均 ") + seconds(*average), chart);
        QFont small = QApplication::font();
        if (small.pointSizeF() > 0)
            small.setPointSizeF(small.pointSizeF() * 0.85);
        m_averageLabel->setFont(small);
        m_averageLabel->setBrush(secondary());
    }
    placeLabels();
}

void StatsView::drawParts(const SessionStats &stats)
{
    const std::optional<SessionStats::Parts> parts = stats.averageParts();
    m_partsPlaceholder->setVisible(!parts);
    m_partsView->setVisible(parts.has_value());
    if (m_partsDrawn && parts == m_shownParts)
        return;
    m_partsDrawn = true;
    m_shownParts = parts;
    QChart *chart = m_partsView->chart();
    qDeleteAll(m_partLabels);
    m_partLabels.clear();
    m_partValues.clear();
    if (!parts) {
        clearChart(chart);
        return;
    }
    QStringList rows;
    QList<QColor> colors;
    for (const PartColor &part : partColors()) {
        rows.append(part.name);
        colors.append(part.color);
    }
    m_partValues = {parts->recognition, parts->segmentation, parts->translate};
    drawRows(chart, rows, m_partValues, colors, QStringLiteral("秒"));
    for (double value : std::as_const(m_partValues)) {
        auto *label = new QGraphicsSimpleTextItem(seconds(value), chart);
        label->setFont(InterfaceFonts::fixedWidth());
        m_partLabels.append(label);
    }
    placeLabels();
}

void StatsView::drawUsage(const SessionStats &stats)
{
    const bool any = stats.promptTokens + stats.completionTokens > 0;
    m_usagePlaceholder->setVisible(!any);
    m_usageView->setVisible(any);
    const QList<int> usage {stats.cachedTokens, std::max(0, stats.promptTokens - stats.cachedTokens),
                            stats.completionTokens};
    if (m_usageDrawn && usage == m_shownUsage)
        return;
    m_usageDrawn = true;
    m_shownUsage = usage;
    QChart *chart = m_usageView->chart();
    qDeleteAll(m_usageLabels);
    m_usageLabels.clear();
    if (!any) {
        clearChart(chart);
        return;
    }
    const QStringList rows {QStringLiteral("输入：缓存命中"), QStringLiteral("输入：未命中"), QStringLiteral("输出")};
    const QList<QColor> colors {QColor(52, 199, 89), QColor(255, 149, 0), QColor(0, 122, 255)};
    drawRows(chart, rows, {double(usage[0]), double(usage[1]), double(usage[2])}, colors, QStringLiteral("词元"));
    for (int count : usage) {
        auto *label = new QGraphicsSimpleTextItem(tokenText(count), chart);
        label->setFont(InterfaceFonts::fixedWidth());
        m_usageLabels.append(label);
    }
    placeLabels();
}

void StatsView::placeLabels()
{
    auto place = [](QChart *chart, const QList<QGraphicsSimpleTextItem *> &labels, const QList<double> &values) {
        const QList<QAbstractSeries *> series = chart->series();
        if (series.isEmpty())
            return;
        // Rows go in bottom up: the first row is the top category.
        const qsizetype n = values.size();
        for (int i = 0; i < labels.size() && i < n; ++i) {
            const QPointF end = chart->mapToPosition(QPointF(values.at(i), double(n - 1 - i)), series.first());
            const QRectF box = labels.at(i)->boundingRect();
            labels.at(i)->setPos(end.x() + 4, end.y() - box.height() / 2);
        }
    };
    place(m_partsView->chart(), m_partLabels, m_partValues);
    QList<double> usage;
    for (int count : std::as_const(m_shownUsage))
        usage.append(count);
    place(m_usageView->chart(), m_usageLabels, usage);

    if (m_latencyUnit) {
        // Right-aligned with the tick labels, above the top one (centred on the plot's top).
        const QRectF plot = m_latencyChart->plotArea();
        const QRectF box = m_latencyUnit->boundingRect();
        const double halfLabel = QFontMetricsF(m_latencyUnit->font()).height() / 2;
        m_latencyUnit->setPos(std::max(0.0, plot.left() - box.width() - 4), plot.top() - halfLabel - box.height() - 1);
    }
    if (m_averageLabel && m_shownAverage && !m_latencyChart->series().isEmpty()) {
        const QRectF plot = m_latencyChart->plotArea();
        const QPointF rule = m_latencyChart->mapToPosition(QPointF(-0.5, *m_shownAverage), m_latencyChart->series().first());
        const QRectF box = m_averageLabel->boundingRect();
        // Above the rule, or below it when the rule runs along the top of the plot.
        const double above = rule.y() - box.height() - 2;
        m_averageLabel->setPos(plot.left() + 4, above >= plot.top() ? above : rule.y() + 2);
    }
}

void StatsView::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    refresh();
    m_timer->start();
}

void StatsView::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QScrollArea::hideEvent(event);
}
