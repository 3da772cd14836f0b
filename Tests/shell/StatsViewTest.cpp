#include "TestMain.h"

#include "fakes/ModelRig.h"
#include "shell/StatsView.h"
#include "shell/StatsWindowController.h"

#include <QAbstractBarSeries>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QLabel>
#include <QTest>

namespace {

QStringList figures(StatsView *view, const QString &name)
{
    QStringList out;
    for (QLabel *label : view->findChildren<QLabel *>(name))
        out << label->text();
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
    QVERIFY(view.latencyChart()->series().isEmpty());
}

void StatsViewTest::samplesAndP90()
{
    ModelRig rig;
    AppModel &model = rig.make();
    model.setStatsForTest(withSamples(3));
    StatsView view(model);
    const SessionStats few = model.stats();
    QCOMPARE(figures(&view, QStringLiteral("figureDetail")).first(),
             few.p90EndToEnd() ? QStringLiteral("九成在 %1 秒 内").arg(*few.p90EndToEnd(), 0, 'f', 1) : QStringLiteral("平均"));

    SessionStats many = withSamples(75);
    many.promptTokens = 200000;
    many.cachedTokens = 76544;
    many.completionTokens = 9999;
    model.setStatsForTest(many);
    view.refresh();
    QVERIFY(many.p90EndToEnd().has_value());
    QVERIFY(figures(&view, QStringLiteral("figureDetail")).first().startsWith(QStringLiteral("九成在 ")));
    QVERIFY(figures(&view, QStringLiteral("figureDetail")).first().endsWith(QStringLiteral(" 秒 内")));
    QVERIFY(view.findChildren<QLabel *>().size() > 0);
    bool titled = false;
    for (QLabel *label : view.findChildren<QLabel *>())
        titled = titled || label->text() == QStringLiteral("每一句的延迟（最近 60 句）");
    QVERIFY(titled);

    QChart *chart = view.latencyChart();
    auto *bars = qobject_cast<QAbstractBarSeries *>(chart->series().first());
    QVERIFY(bars);
    QCOMPARE(bars->count(), 3);
    QCOMPARE(bars->barSets().at(0)->label(), QStringLiteral("翻译"));
    QCOMPARE(bars->barSets().at(2)->label(), QStringLiteral("识别"));
    QCOMPARE(bars->barSets().at(0)->count(), 60);
    auto *categories = qobject_cast<QBarCategoryAxis *>(chart->axes(Qt::Horizontal).first());
    QCOMPARE(categories->count(), 60);
    QVERIFY(!categories->isVisible());
    QCOMPARE(categories->categories().first(), QString::number(many.samples.at(many.samples.size() - 60).id));
    // Samples without a recognition time draw a zero-height segment.
    const QList<SessionStats::Sample> kept = many.samples.mid(many.samples.size() - 60);
    for (int i = 0; i < kept.size(); ++i) {
        if (!kept.at(i).recognition)
            QCOMPARE(bars->barSets().at(2)->at(i), 0.0);
    }
    QCOMPARE(view.usageLabels(), (QStringList {QStringLiteral("7.7 万"), QStringLiteral("12.3 万"), QStringLiteral("9999")}));
    QCOMPARE(view.partLabels().size(), 3);
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
    model.setStatsForTest(withSamples(5));
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
    const int latency = view->latencyWrites();
    const int parts = view->partWrites();
    const int usage = view->usageWrites();
    const QList<QAbstractSeries *> before = view->latencyChart()->series();
    view->refresh();
    view->refresh();
    QCOMPARE(view->latencyWrites(), latency);
    QCOMPARE(view->partWrites(), parts);
    QCOMPARE(view->usageWrites(), usage);
    QCOMPARE(view->latencyChart()->series(), before);
    model.setStatsForTest(withSamples(6));
    view->refresh();
    QCOMPARE(view->latencyWrites(), latency + 1);
}

DODEDAROV_TEST(StatsViewTest)

#include "StatsViewTest.moc"
