#include "TestMain.h"

#include "display/CaptionMetrics.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QTest>

// The real row measure: widths grow with the text and with the size, and match the
// application font's own metrics at medium weight.
class CaptionMetricsTest final : public QObject {
    Q_OBJECT

private slots:
    void measuresWithTheApplicationFont()
    {
        const auto small = CaptionMetrics::measurer(20);
        const auto large = CaptionMetrics::measurer(40);
        QCOMPARE(small(u""), 0.0);
        QVERIFY(small(u"中文字幕") > 0);
        QVERIFY(small(u"中文字幕") > small(u"中文"));
        QVERIFY(large(u"中文字幕") > small(u"中文字幕") * 1.5);
        QVERIFY(small(u"hello world") > small(u"hello"));

        QFont font = QGuiApplication::font();
        font.setPointSizeF(20);
        font.setWeight(QFont::Medium);
        QCOMPARE(small(u"Captions 字幕"), QFontMetricsF(font).horizontalAdvance(QStringLiteral("Captions 字幕")));
    }
};

DODEDAROV_TEST(CaptionMetricsTest)
#include "CaptionMetricsTest.moc"
