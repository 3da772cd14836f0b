#include "TestMain.h"

#include "fakes/ModelRig.h"
#include "shell/StatsView.h"
#include "shell/StatsWindowController.h"

#include <QAbstractBarSeries>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QTextDocument>
#include <QValueAxis>
#include <QGraphicsSimpleTextItem>
#include <QLabel>
#include <QPointer>
#include <QTest>

namespace {

QStringList figures(StatsView *view, const QString &name)
{
    QStringList out;
    for (QLabel *label : view->findChildren<QLabel *>(name))
        out << label->text();
    return out;
}

// The texts a chart draws for its axes (tick labels, category names, titles).
QStringList axisTexts(QChart *chart)
{
    QStringList texts;
    for (QGraphicsItem *item : chart->scene()->items()) {
        auto *text = dynamic_cast<QGraphicsTextItem *>(item);
        if (text && text->isVisible() && chart->isAncestorOf(text))
            texts.append(text->toPlainText());
    }
    return texts;
}

// One of the page's three charts, found by the name of its view.
QChart *chartNamed(QWidget *view, const QString &name)
{
    return view->findChild<QChartView *>(name)->chart();
}

// The figures a chart writes beside its bars or over its plot, in the order drawn.
QList<QGraphicsSimpleTextItem *> annotations(QChart *chart)
{
    QList<QGraphicsSimpleTextItem *> out;
    for (QGraphicsItem *item : chart->childItems()) {
        if (auto *text = dynamic_cast<QGraphicsSimpleTextItem *>(item))
            out.append(text);
    }
    return out;
}

QStringList annotationTexts(QChart *chart)
{
    QStringList texts;
    for (const QGraphicsSimpleTextItem *text : annotations(chart))
        texts.append(text->text());
    return texts;
}

// Where the average's annotation sits in the latency chart; empty without one.
QRectF averageLabelRect(QChart *chart)
{
    for (const QGraphicsSimpleTextItem *text : annotations(chart)) {
        if (text->text().startsWith(QStringLiteral("平均 ")))
            return text->sceneBoundingRect();
    }
    return {};
}

// Each chart's series, watched: a rewritten chart deletes the ones it had.
QList<QPointer<QAbstractSeries>> watchedSeries(QWidget *view)
{
    QList<QPointer<QAbstractSeries>> out;
    for (const QString &name : {QStringLiteral("latencyChart"), QStringLiteral("partsChart"), QStringLiteral("usageChart")}) {
        for (QAbstractSeries *series : chartNamed(view, name)->series())
            out.append(series);
    }
    return out;
}

SessionStats withSamples(int count)
{
    SessionStats stats;
    for (int i = 0; i < count; ++i)
        stats.addLatency(2.0 + (i % 5) * 0.1, 1.0, i % 2 ? std::optional<double>(0.5) : std::nullopt);
    return stats;
}

}

// The statistics window on model states, offscreen.
class StatsViewTest final : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void emptyState();
    void samplesAndP90();
    void tokenText_data();
    void tokenText();
    void oneWindowAndNoRedrawWhenUnchanged();
    void cacheShareRounds_data();
    void cacheShareRounds();
    void chartsAreReadable();
    void latencyUnitUpright();
};

void StatsViewTest::cleanup()
{
    StatsWindowController::shared().reset();
    StatsWindowController::model = nullptr;
}

void StatsViewTest::emptyState()
{
    ModelRig rig;
    AppModel &model = rig.make();
    StatsView view(model);
    QCOMPARE(figures(&view, QStringLiteral("figureValue")),
             (QStringList {QStringLiteral("—"), QStringLiteral("—"), QStringLiteral("0.0 分钟"), QStringLiteral("—")}));
    QCOMPARE(figures(&view, QStringLiteral("figureDetail")),
             (QStringList {QStringLiteral("平均"), QStringLiteral("平均"), QStringLiteral("0 次翻译请求"),
                           QStringLiteral("输入词元")}));
    int placeholders = 0;
    for (QLabel *label : view.findChildren<QLabel *>(QStringLiteral("chartPlaceholder")))
        placeholders += label->isVisibleTo(&view) ? 1 : 0;
    QCOMPARE(placeholders, 3);
    QVERIFY(chartNamed(&view, QStringLiteral("latencyChart"))->series().isEmpty());
}

void StatsViewTest::samplesAndP90()
{
    ModelRig rig;
    AppModel &model = rig.make();
    model.setStatsForTest(withSamples(3));
    StatsView view(model);
    // One sentence of the three has a recognition time: too few for a 90th percentile.
    QCOMPARE(figures(&view, QStringLiteral("figureDetail")).first(), QStringLiteral("平均"));
    QCOMPARE(figures(&view, QStringLiteral("figureValue")).first(), QStringLiteral("2.6 秒"));

    SessionStats many = withSamples(75);
    many.promptTokens = 200000;
    many.cachedTokens = 76544;
    many.completionTokens = 9999;
    model.setStatsForTest(many);
    view.refresh();
    // 37 sentences with a recognition time, end to end 2.5 (7 times), 2.6 (8), 2.7 (7), 2.8 (8)
    // and 2.9 s (7): the 90th percentile is 2.9 s, the average 99.9 / 37 = 2.7 s.
    QCOMPARE(figures(&view, QStringLiteral("figureDetail")).first(), QStringLiteral("九成在 2.9 秒 内"));
    QCOMPARE(figures(&view, QStringLiteral("figureValue")).first(), QStringLiteral("2.7 秒"));
    QCOMPARE(figures(&view, QStringLiteral("figureValue")).last(), QStringLiteral("38%"));
    QVERIFY(view.findChildren<QLabel *>().size() > 0);
    bool titled = false;
    for (QLabel *label : view.findChildren<QLabel *>())
        titled = titled || label->text() == QStringLiteral("每一句的延迟（最近 60 句）");
    QVERIFY(titled);

    QChart *latency = chartNamed(&view, QStringLiteral("latencyChart"));
    auto *bars = qobject_cast<QAbstractBarSeries *>(latency->series().first());
    QVERIFY(bars);
    QCOMPARE(bars->count(), 3);
    QCOMPARE(bars->barSets().at(0)->label(), QStringLiteral("翻译"));
    QCOMPARE(bars->barSets().at(2)->label(), QStringLiteral("识别"));
    QCOMPARE(bars->barSets().at(0)->count(), 60);
    auto *categories = qobject_cast<QBarCategoryAxis *>(latency->axes(Qt::Horizontal).first());
    QCOMPARE(categories->count(), 60);
    QVERIFY(!categories->isVisible());
    QCOMPARE(categories->categories().first(), QString::number(many.samples.at(many.samples.size() - 60).id));
    // Samples without a recognition time draw a zero-height segment.
    const QList<SessionStats::Sample> kept = many.samples.mid(many.samples.size() - 60);
    for (int i = 0; i < kept.size(); ++i) {
        if (!kept.at(i).recognition)
            QCOMPARE(bars->barSets().at(2)->at(i), 0.0);
    }
    QCOMPARE(annotationTexts(chartNamed(&view, QStringLiteral("usageChart"))),
             (QStringList {QStringLiteral("7.7 万"), QStringLiteral("12.3 万"), QStringLiteral("9999")}));
    QCOMPARE(annotationTexts(chartNamed(&view, QStringLiteral("partsChart"))).size(), 3);
}

void StatsViewTest::tokenText_data()
{
    QTest::addColumn<int>("tokens");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << QStringLiteral("0");
    QTest::newRow("9999") << 9999 << QStringLiteral("9999");
    QTest::newRow("10000") << 10000 << QStringLiteral("1.0 万");
    QTest::newRow("123456") << 123456 << QStringLiteral("12.3 万");
}

void StatsViewTest::tokenText()
{
    QFETCH(int, tokens);
    QFETCH(QString, text);
    QCOMPARE(StatsView::tokenText(tokens), text);
}

void StatsViewTest::oneWindowAndNoRedrawWhenUnchanged()
{
    ModelRig rig;
    AppModel &model = rig.make();
    // Every chart drawn: latency samples and token use.
    const auto drawn = [](int samples) {
        SessionStats stats = withSamples(samples);
        stats.promptTokens = 3000;
        stats.cachedTokens = 1000;
        stats.completionTokens = 400;
        return stats;
    };
    model.setStatsForTest(drawn(5));
    StatsWindowController::model = &model;
    StatsWindowController::shared().show();
    QWidget *window = StatsWindowController::shared().window();
    QCOMPARE(window->windowTitle(), QStringLiteral("泰萨利字幕 · 本场统计"));
    QCOMPARE(window->minimumSize(), QSize(440, 480));
    QCOMPARE(window->size(), QSize(520, 600));
    window->close();
    StatsWindowController::shared().show();
    QCOMPARE(StatsWindowController::shared().window(), window);

    StatsView *view = StatsWindowController::shared().view();
    // Unchanged statistics leave every chart's series in place.
    for (const QString &name : {QStringLiteral("latencyChart"), QStringLiteral("partsChart"), QStringLiteral("usageChart")})
        QVERIFY2(!chartNamed(view, name)->series().isEmpty(), qPrintable(name));
    const QList<QPointer<QAbstractSeries>> before = watchedSeries(view);
    view->refresh();
    view->refresh();
    QCOMPARE(watchedSeries(view), before);
    for (const QPointer<QAbstractSeries> &series : before)
        QVERIFY(series);
    // One more sample rewrites the latency chart.
    model.setStatsForTest(drawn(6));
    view->refresh();
    QCOMPARE(before.first(), nullptr);
    QCOMPARE(qobject_cast<QAbstractBarSeries *>(chartNamed(view, QStringLiteral("latencyChart"))->series().first())
                 ->barSets().at(0)->count(), 6);
}

void StatsViewTest::cacheShareRounds_data()
{
    QTest::addColumn<int>("prompt");
    QTest::addColumn<int>("cached");
    QTest::addColumn<QString>("shown");
    QTest::newRow("two thirds round up") << 3 << 2 << QStringLiteral("67%");
    QTest::newRow("a third rounds down") << 3 << 1 << QStringLiteral("33%");
    QTest::newRow("99.6 rounds to 100") << 1000 << 996 << QStringLiteral("100%");
    QTest::newRow("none cached") << 10 << 0 << QStringLiteral("0%");
}

void StatsViewTest::cacheShareRounds()
{
    QFETCH(int, prompt);
    QFETCH(int, cached);
    QFETCH(QString, shown);
    ModelRig rig;
    AppModel &model = rig.make();
    SessionStats stats;
    stats.promptTokens = prompt;
    stats.cachedTokens = cached;
    model.setStatsForTest(stats);
    StatsView view(model);
    QCOMPARE(figures(&view, QStringLiteral("figureValue")).last(), shown);
}

// In the window as shown: row names, tick labels and axis titles whole, the rows top to bottom
// in the order listed, ticks at round values, the average's annotation clear of the axis.
void StatsViewTest::chartsAreReadable()
{
    ModelRig rig;
    AppModel &model = rig.make();
    model.setStatsForTest(ModelRig::sampleStats(8));
    StatsWindowController::model = &model;
    StatsWindowController::shared().show();
    StatsView *view = StatsWindowController::shared().view();
    QVERIFY(QTest::qWaitForWindowExposed(StatsWindowController::shared().window()));
    view->refresh();
    QCoreApplication::processEvents();

    const QStringList parts {QStringLiteral("识别"), QStringLiteral("断句和排队"), QStringLiteral("翻译")};
    const QStringList usage {QStringLiteral("输入：缓存命中"), QStringLiteral("输入：未命中"), QStringLiteral("输出")};
    for (const auto &[chart, rows, unit] : {std::tuple(chartNamed(view, QStringLiteral("partsChart")), parts, QStringLiteral("秒")),
                                            std::tuple(chartNamed(view, QStringLiteral("usageChart")), usage, QStringLiteral("词元"))}) {
        const QStringList texts = axisTexts(chart);
        for (const QString &text : texts)
            QVERIFY2(!text.contains(QStringLiteral("...")) && !text.contains(QStringLiteral("…")), qPrintable(text));
        for (const QString &row : rows)
            QVERIFY2(texts.contains(row), qPrintable(texts.join(u'|')));
        QVERIFY2(texts.contains(unit), qPrintable(texts.join(u'|')));

        // The first row listed is drawn at the top.
        auto *categories = qobject_cast<QBarCategoryAxis *>(chart->axes(Qt::Vertical).first());
        QVERIFY(categories);
        QAbstractSeries *series = chart->series().first();
        QList<double> ys;
        for (const QString &row : rows)
            ys.append(chart->mapToPosition(QPointF(0, categories->categories().indexOf(row)), series).y());
        QVERIFY2(ys.at(0) < ys.at(1) && ys.at(1) < ys.at(2), qPrintable(rows.first()));
    }

    // Ticks at 1, 2, 2.5 or 5 times a power of ten, from 0.
    for (QChart *chart : {chartNamed(view, QStringLiteral("latencyChart")), chartNamed(view, QStringLiteral("partsChart")),
                          chartNamed(view, QStringLiteral("usageChart"))}) {
        QValueAxis *axis = nullptr;
        for (QAbstractAxis *each : chart->axes())
            axis = axis ? axis : qobject_cast<QValueAxis *>(each);
        QVERIFY(axis);
        QCOMPARE(axis->min(), 0.0);
        const double step = (axis->max() - axis->min()) / (axis->tickCount() - 1);
        const double mantissa = step / std::pow(10.0, std::floor(std::log10(step)));
        bool round = false;
        for (double nice : {1.0, 2.0, 2.5, 5.0})
            round = round || std::abs(mantissa - nice) < 1e-6;
        QVERIFY2(round, qPrintable(QString::number(step)));
    }

    // "平均 x 秒" inside the plot, right of the tick labels, whole.
    const QRectF average = averageLabelRect(chartNamed(view, QStringLiteral("latencyChart")));
    const QRectF plot = chartNamed(view, QStringLiteral("latencyChart"))->plotArea();
    QVERIFY(!average.isEmpty());
    QVERIFY2(average.left() >= plot.left() && average.right() <= plot.right(),
             qPrintable(u"label %1..%2, plot %3..%4"_qs.arg(average.left()).arg(average.right())
                            .arg(plot.left()).arg(plot.right())));
    QVERIFY(average.top() >= plot.top() && average.bottom() <= plot.bottom());
}

// The latency chart's unit is read like the rest of the window: upright, whole, beside the
// top of the tick labels rather than turned on its side in the chart's narrow margin.
void StatsViewTest::latencyUnitUpright()
{
    ModelRig rig;
    AppModel &model = rig.make();
    model.setStatsForTest(ModelRig::sampleStats(5));
    StatsWindowController::model = &model;
    StatsWindowController::shared().show();
    StatsView *view = StatsWindowController::shared().view();
    QVERIFY(QTest::qWaitForWindowExposed(StatsWindowController::shared().window()));
    QCoreApplication::processEvents();

    QChart *chart = chartNamed(view, QStringLiteral("latencyChart"));
    QList<QGraphicsItem *> units;
    QStringList turned;
    QRectF ticks;
    for (QGraphicsItem *item : chart->scene()->items()) {
        if (!item->isVisible() || !chart->isAncestorOf(item))
            continue;
        QString text;
        // Where the text itself is drawn: a text item's box holds its document's margin too.
        QRectF drawn = item->sceneBoundingRect();
        if (auto *rich = dynamic_cast<QGraphicsTextItem *>(item)) {
            text = rich->toPlainText();
            const double margin = rich->document()->documentMargin();
            drawn.adjust(margin, margin, -margin, -margin);
        } else if (auto *simple = dynamic_cast<QGraphicsSimpleTextItem *>(item)) {
            text = simple->text();
        }
        if (text.isEmpty())
            continue;
        const QTransform turn = item->sceneTransform();
        if (!qFuzzyIsNull(turn.m12()) || !qFuzzyIsNull(turn.m21()))
            turned.append(text);
        else if (text == QStringLiteral("秒"))
            units.append(item);
        else if (text.at(0).isDigit())
            ticks |= drawn;
    }
    QVERIFY2(turned.isEmpty(), qPrintable(u"drawn on its side: \"%1\""_qs.arg(turned.join(u"\", \""))));
    QCOMPARE(units.size(), 1);
    QGraphicsItem *unit = units.first();
    // Whole inside the chart, and clear of the tick labels.
    const QRectF box = unit->sceneBoundingRect();
    QVERIFY(chart->rect().contains(box));
    QVERIFY(!ticks.isEmpty());
    QVERIFY2(!box.intersects(ticks), qPrintable(u"unit %1,%2 ticks %3,%4"_qs.arg(box.top()).arg(box.bottom())
                                                   .arg(ticks.top()).arg(ticks.bottom())));
}

DODEDAROV_TEST(StatsViewTest)

#include "StatsViewTest.moc"
