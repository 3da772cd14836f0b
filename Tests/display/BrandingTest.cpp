#include "TestMain.h"

#include "display/Branding.h"
#include "display/Symbols.h"

#include <QApplication>
#include <QFile>
#include <QPalette>

namespace {

int alphaAt(const QImage &image, int x, int y)
{
    return qAlpha(image.pixel(x, y));
}

// Whether any pixel in the logical rectangle is inked.
bool inked(const QImage &image, const QRect &area)
{
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (alphaAt(image, x, y) > 0)
                return true;
        }
    }
    return false;
}

QImage region(const QImage &image, const QRect &area)
{
    return image.copy(area).convertToFormat(QImage::Format_ARGB32);
}

}

// The menu-bar image with its marks, and the symbol pictures. Offscreen.
class BrandingTest final : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sameMarkGivesTheCachedImage();
    void marks_data();
    void marks();
    void withoutTheIconTheSymbolIsDrawn();
    void paletteChangeRedraws();
    void symbolsAreBundledAndTinted();
    void unknownSymbolIsTheCircle();
};

void BrandingTest::init()
{
    Branding::clearCache();
}

void BrandingTest::cleanup()
{
    Branding::menuBarIconName = u"MenuBarIcon"_qs;
    Branding::clearCache();
}

void BrandingTest::sameMarkGivesTheCachedImage()
{
    QVERIFY(!Branding::load(u"MenuBarIcon"_qs, u"png"_qs).isNull());
    QVERIFY(Branding::load(u"NoSuchIcon"_qs, u"png"_qs).isNull());

    const QImage first = Branding::menuBarImage(Branding::Mark::standby);
    const QImage again = Branding::menuBarImage(Branding::Mark::standby);
    QCOMPARE(again.cacheKey(), first.cacheKey());
    QVERIFY(Branding::menuBarImage(Branding::Mark::paused).cacheKey() != first.cacheKey());
    QCOMPARE(first.deviceIndependentSize(), QSizeF(26, 18));
}

void BrandingTest::marks_data()
{
    QTest::addColumn<Branding::Mark>("mark");
    QTest::addColumn<QList<QPoint>>("on");
    QTest::addColumn<QList<QPoint>>("off");

    // Pixels named by their top-left corner; the marks live in x 19.5–24.5, y 6–12.
    QTest::newRow("none: empty right of the icon")
        << Branding::Mark::none << QList<QPoint>{} << QList<QPoint>{{20, 9}, {22, 9}, {23, 9}};
    QTest::newRow("paused: two bars")
        << Branding::Mark::paused << QList<QPoint>{{20, 6}, {20, 11}, {23, 6}, {23, 11}}
        << QList<QPoint>{{20, 4}, {20, 13}, {25, 9}};
    QTest::newRow("standby: a ring")
        << Branding::Mark::standby << QList<QPoint>{{20, 8}, {23, 8}, {22, 7}, {21, 10}}
        << QList<QPoint>{{21, 8}, {22, 9}, {25, 9}};
    QTest::newRow("recognizing: a dot")
        << Branding::Mark::recognizing << QList<QPoint>{{21, 8}, {22, 9}, {20, 8}}
        << QList<QPoint>{{25, 9}, {22, 4}, {22, 13}};
}

void BrandingTest::marks()
{
    QFETCH(Branding::Mark, mark);
    QFETCH(QList<QPoint>, on);
    QFETCH(QList<QPoint>, off);

    const QImage image = Branding::menuBarImage(mark);
    QCOMPARE(image.devicePixelRatio(), 1.0);
    QCOMPARE(image.size(), QSize(26, 18));
    const QRgb text = QApplication::palette().color(QPalette::WindowText).rgb();
    for (const QPoint &p : on) {
        QVERIFY2(alphaAt(image, p.x(), p.y()) > 200, qPrintable(u"(%1, %2)"_qs.arg(p.x()).arg(p.y())));
        QCOMPARE(qRgb(qRed(image.pixel(p)), qGreen(image.pixel(p)), qBlue(image.pixel(p))), text);
    }
    for (const QPoint &p : off)
        QVERIFY2(alphaAt(image, p.x(), p.y()) < 60, qPrintable(u"(%1, %2)"_qs.arg(p.x()).arg(p.y())));
    // The icon is there, and nothing passes the right edge of the mark area.
    QVERIFY(inked(image, QRect(0, 0, 18, 18)));
    QVERIFY(!inked(image, QRect(25, 0, 1, 18)));
}

void BrandingTest::withoutTheIconTheSymbolIsDrawn()
{
    const QImage withIcon = Branding::menuBarImage(Branding::Mark::paused);
    Branding::menuBarIconName = u"NoSuchIcon"_qs;
    Branding::clearCache();
    const QImage withSymbol = Branding::menuBarImage(Branding::Mark::paused);

    // The symbol fills (0, 2, 18, 14): the top two and bottom two rows stay clear.
    QVERIFY(inked(withSymbol, QRect(0, 2, 18, 14)));
    QVERIFY(!inked(withSymbol, QRect(0, 0, 18, 2)));
    QVERIFY(!inked(withSymbol, QRect(0, 16, 18, 2)));
    QVERIFY(region(withSymbol, QRect(0, 0, 18, 18)) != region(withIcon, QRect(0, 0, 18, 18)));
    // The mark is where it always is.
    QCOMPARE(region(withSymbol, QRect(18, 0, 8, 18)), region(withIcon, QRect(18, 0, 8, 18)));
}

void BrandingTest::paletteChangeRedraws()
{
    const QPalette original = QApplication::palette();
    const QImage before = Branding::menuBarImage(Branding::Mark::recognizing);
    QPalette changed = original;
    changed.setColor(QPalette::WindowText, QColor(200, 30, 40));
    QApplication::setPalette(changed);
    const QImage after = Branding::menuBarImage(Branding::Mark::recognizing);
    QApplication::setPalette(original);

    QVERIFY(after.cacheKey() != before.cacheKey());
    QCOMPARE(QColor(after.pixel(22, 9)).rgb(), QColor(200, 30, 40).rgb());
}

void BrandingTest::symbolsAreBundledAndTinted()
{
    QCOMPARE(Symbols::names().size(), 26);
    for (const QString &name : Symbols::names()) {
        QVERIFY2(QFile::exists(Symbols::path(name)), qPrintable(name));
        const QImage image = Symbols::image(name, QSize(22, 22), Qt::white, 2.0);
        QVERIFY2(!image.isNull(), qPrintable(name));
        QCOMPARE(image.size(), QSize(44, 44));
        QCOMPARE(image.deviceIndependentSize(), QSizeF(22, 22));
        // Every inked pixel is white: tinted, whatever colour the drawing had.
        int inkedPixels = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = QColor::fromRgba(image.pixel(x, y));
                if (c.alpha() < 255)
                    continue;
                ++inkedPixels;
                QVERIFY2(c.rgb() == QColor(Qt::white).rgb(), qPrintable(name));
            }
        }
        QVERIFY2(inkedPixels > 20, qPrintable(name));
    }
}

void BrandingTest::unknownSymbolIsTheCircle()
{
    QCOMPARE(Symbols::path(u"no.such.symbol"_qs), Symbols::path(u"circle"_qs));
    QCOMPARE(Symbols::image(u"no.such.symbol"_qs, QSize(18, 18), Qt::black),
             Symbols::image(u"circle"_qs, QSize(18, 18), Qt::black));
    QVERIFY(Symbols::image(u"gearshape"_qs, QSize(18, 18), Qt::black)
            != Symbols::image(u"circle"_qs, QSize(18, 18), Qt::black));
}

DODEDAROV_TEST(BrandingTest)
#include "BrandingTest.moc"
