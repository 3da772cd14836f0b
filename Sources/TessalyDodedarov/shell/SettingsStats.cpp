#include "shell/SettingsView.h"

#include "model/AppModel.h"
#include "shell/StatsWindowController.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

QWidget *SettingsView::statsSection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    m_statsBox = new QWidget;
    m_statsBox->setObjectName(QStringLiteral("statsLines"));
    auto *lines = new QVBoxLayout(m_statsBox);
    lines->setContentsMargins(0, 0, 0, 0);
    lines->setSpacing(4);
    for (const char *name : {"usageLine", "latencyLine", "extrasLine"}) {
        QLabel *label = note(QString(), false);
        label->setObjectName(QString::fromLatin1(name));
        lines->addWidget(label);
    }
    column->addWidget(m_statsBox);
    auto *charts = new QPushButton(QStringLiteral("查看图表…"));
    charts->setObjectName(QStringLiteral("showCharts"));
    connect(charts, &QPushButton::clicked, this, [] { StatsWindowController::shared().show(); });
    column->addWidget(charts, 0, Qt::AlignLeft);

    // The statistics are a plain field of the model that notifies nobody: read them on a
    // timer of our own, running only while the page is on screen.
    m_statsTimer = new QTimer(this);
    m_statsTimer->setInterval(2000);
    connect(m_statsTimer, &QTimer::timeout, this, &SettingsView::refreshStats);
    follow([this] { refreshStats(); });
    return box;
}

void SettingsView::refreshStats()
{
    const SessionStats stats = m_model.stats();
    auto *usage = m_statsBox->findChild<QLabel *>(QStringLiteral("usageLine"));
    auto *latency = m_statsBox->findChild<QLabel *>(QStringLiteral("latencyLine"));
    auto *extras = m_statsBox->findChild<QLabel *>(QStringLiteral("extrasLine"));
    setNote(usage, stats.usageSummary(m_model.billedSeconds()), false);
    setNote(latency, stats.latencySummary().value_or(QStringLiteral("讲话停下到出字：还没有数据（开始翻译后显示）")),
            false);
    const std::optional<QString> extra = stats.extrasSummary();
    setNote(extras, extra.value_or(QString()), false);
    extras->setVisible(extra.has_value());
}

void SettingsView::showEvent(QShowEvent *event)
{
    QScrollArea::showEvent(event);
    refreshStats();
    m_statsTimer->start();
}

void SettingsView::hideEvent(QHideEvent *event)
{
    m_statsTimer->stop();
    QScrollArea::hideEvent(event);
}
