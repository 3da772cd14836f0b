#pragma once

#include "intelligence/SessionStats.h"

#include <QList>
#include <QScrollArea>
#include <QString>

class AppModel;
class QBarCategoryAxis;
class QChart;
class QChartView;
class QGraphicsSimpleTextItem;
class QLabel;
class QScatterSeries;
class QLineSeries;
class QAbstractBarSeries;
class QTimer;
class QValueAxis;

// The statistics window's page: four figure tiles and three charts of the current meeting's
// statistics, read afresh from the model once a second while the page is on screen. It changes
// nothing. A chart's series are rewritten only when its data changed, so the short animation
// plays on a change, not on every tick.
class StatsView final : public QScrollArea {
    Q_OBJECT

public:
    static constexpr int maxSamples = 60;

    explicit StatsView(AppModel &model, QWidget *parent = nullptr);

    // Stage names with their colour, the one scale of both latency charts.
    struct PartColor {
        QString name;
        QColor color;
    };
    static const QList<PartColor> &partColors();

    // A token count as annotated: plain below 10000, else in units of 万 with one decimal.
    static QString tokenText(int tokens);

    // Reads the model's statistics and redraws what changed.
    void refresh();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QWidget *tile(int index);
    QWidget *block(const QString &title, QLabel *&titleLabel, QLabel *&placeholder, QChartView *&view,
                   int height);
    void drawLatency(const SessionStats &stats);
    void drawParts(const SessionStats &stats);
    void drawUsage(const SessionStats &stats);
    void placeLabels();

    AppModel &m_model;
    QTimer *m_timer = nullptr;
    QList<QLabel *> m_tileValues;
    QList<QLabel *> m_tileDetails;

    QLabel *m_latencyTitle = nullptr;
    QLabel *m_latencyPlaceholder = nullptr;
    QChartView *m_latencyView = nullptr;
    QChart *m_latencyChart = nullptr;
    QList<SessionStats::Sample> m_shownSamples;
    std::optional<double> m_shownAverage;
    bool m_latencyDrawn = false;
    QGraphicsSimpleTextItem *m_averageLabel = nullptr;
    QGraphicsSimpleTextItem *m_latencyUnit = nullptr;

    QLabel *m_partsPlaceholder = nullptr;
    QChartView *m_partsView = nullptr;
    std::optional<SessionStats::Parts> m_shownParts;
    bool m_partsDrawn = false;
    QList<QGraphicsSimpleTextItem *> m_partLabels;
    QList<double> m_partValues;

    QLabel *m_usagePlaceholder = nullptr;
    QChartView *m_usageView = nullptr;
    QList<int> m_shownUsage;
    bool m_usageDrawn = false;
    QList<QGraphicsSimpleTextItem *> m_usageLabels;
};
