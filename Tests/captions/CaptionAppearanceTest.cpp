#include "TestMain.h"

#include "captions/CaptionAppearance.h"
#include "captions/FontFamilies.h"

#include <QJsonDocument>
#include <QTest>

#include <cmath>

namespace {

CaptionAppearance sized(double chinese, double english)
{
    CaptionAppearance look;
    look.chineseSize = chinese;
    look.englishSize = english;
    return look;
}

QJsonObject decodeText(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

Q_DECLARE_METATYPE(RGBA)

// The caption look as a value: resizing, the contrast fix, the highlight colour, its stored
// JSON form and the presets.
class CaptionAppearanceTest final : public QObject {
    Q_OBJECT

private slots:
    void scaling_data()
    {
        QTest::addColumn<double>("chinese");
        QTest::addColumn<double>("english");
        QTest::addColumn<double>("delta");
        QTest::addColumn<double>("newChinese");
        QTest::addColumn<double>("newEnglish");
        QTest::newRow("up") << 26.0 << 18.0 << 2.0 << 28.0 << 19.0;
        QTest::newRow("down") << 26.0 << 18.0 << -2.0 << 24.0 << 17.0;
        QTest::newRow("at the cap") << 60.0 << 18.0 << 2.0 << 60.0 << 19.0;
        QTest::newRow("at the floor") << 12.0 << 18.0 << -2.0 << 12.0 << 15.0;
        QTest::newRow("english above range") << 26.0 << 100.0 << 2.0 << 28.0 << 60.0;
        QTest::newRow("english below range") << 26.0 << 2.0 << -2.0 << 24.0 << 12.0;
        QTest::newRow("tiny old size") << 0.5 << 20.0 << 2.0 << 12.0 << 50.0;
        // 25 × 22 ÷ 20 = 27.5 rounds up.
        QTest::newRow("half away from zero") << 20.0 << 25.0 << 2.0 << 22.0 << 28.0;
    }
    void scaling()
    {
        QFETCH(double, chinese);
        QFETCH(double, english);
        QFETCH(double, delta);
        QFETCH(double, newChinese);
        QFETCH(double, newEnglish);
        const CaptionAppearance out = sized(chinese, english).scaled(delta);
        QCOMPARE(out.chineseSize, newChinese);
        QCOMPARE(out.englishSize, newEnglish);
        QCOMPARE(out.skin, sized(chinese, english).skin);
    }

    void luminance()
    {
        QCOMPARE(RGBA({0.08, 0.08, 0.10, 1.0}).luminance(), 0.0073986209467722915);
        QCOMPARE(RGBA({0.95, 0.97, 1.0, 1.0}).luminance(), 0.9287731627992545);
        // Between 0.03928 and 0.04045 the two common thresholds disagree.
        QCOMPARE(RGBA({0.04, 0.04, 0.04, 1}).luminance(), std::pow((0.04 + 0.055) / 1.055, 2.4));
    }

    void contrastFix_data()
    {
        QTest::addColumn<RGBA>("text");
        QTest::addColumn<RGBA>("background");
        QTest::addColumn<RGBA>("expected");
        const RGBA dark {0.08, 0.08, 0.10, 1.0};
        QTest::newRow("grey on white") << RGBA {0.9, 0.9, 0.9, 1} << RGBA {1, 1, 1, 1} << dark;
        QTest::newRow("grey on mid grey") << RGBA {0.6, 0.6, 0.6, 1} << RGBA {0.5, 0.5, 0.5, 1} << dark;
        QTest::newRow("transparent background kept")
            << RGBA {0.9, 0.9, 0.9, 1} << RGBA {1, 1, 1, 0.49} << RGBA {0.9, 0.9, 0.9, 1};
        QTest::newRow("at half opacity fixed") << RGBA {0.9, 0.9, 0.9, 1} << RGBA {1, 1, 1, 0.5} << dark;
        QTest::newRow("light text on black") << RGBA {0.1, 0.1, 0.1, 1} << RGBA {0, 0, 0, 1}
                                             << RGBA {0.95, 0.97, 1.0, 1.0};
    }
    void contrastFix()
    {
        QFETCH(RGBA, text);
        QFETCH(RGBA, background);
        QFETCH(RGBA, expected);
        CaptionAppearance look;
        look.chineseColor = text;
        look.englishColor = text;
        look.background = background;
        const CaptionAppearance fixed = look.effective();
        QCOMPARE(fixed.chineseColor, expected);
        QCOMPARE(fixed.englishColor, expected);
        QCOMPARE(fixed.background, background);
    }

    void presetsAndHighlights()
    {
        const QList<CaptionSkin> &skins = CaptionSkin::all();
        QCOMPARE(skins.size(), 4);
        const QList<RGBA> highlights {{1.0, 0.76, 0.2, 1}, {0.4, 0.95, 0.55, 1}, {0.4, 0.95, 0.55, 1},
                                      {0.8, 0.33, 0.0, 1}};
        for (int i = 0; i < skins.size(); ++i) {
            QCOMPARE(skins[i].appearance.effective(), skins[i].appearance);
            QCOMPARE(skins[i].appearance.highlightColor(), highlights[i]);
            QCOMPARE(skins[i].appearance.skin, std::optional<QString>(skins[i].id));
        }
        QCOMPARE(CaptionSkin::named(QStringLiteral("tech"))->appearance, CaptionAppearance());
        QVERIFY(!CaptionSkin::named(std::nullopt));
        QVERIFY(!CaptionSkin::named(QString()));
        QVERIFY(!CaptionSkin::named(QStringLiteral("Tech")));
        QCOMPARE(FontChoice::chinese().size(), 7);
        QCOMPARE(FontChoice::english().size(), 6);
    }

    void jsonRoundTrip()
    {
        CaptionAppearance look = CaptionSkin::all().at(2).appearance;
        look.outline = true;
        QCOMPARE(CaptionAppearance::fromJson(look.toJson()), std::optional<CaptionAppearance>(look));
        look.skin.reset();
        QVERIFY(!look.toJson().contains(QStringLiteral("skin")));
        QVERIFY(!look.encoded().contains('\n'));
        QCOMPARE(CaptionAppearance::fromJson(look.toJson()), std::optional<CaptionAppearance>(look));
    }

    void decoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<double>("chineseSize");
        QTest::addColumn<double>("red");
        const QByteArray colours =
            R"("chineseColor":{"r":1.5,"g":0,"b":0,"a":1},"englishColor":{"r":0,"g":0,"b":0,"a":1},"background":{"r":0,"g":0,"b":0,"a":-1})";
        const auto with = [&](const QByteArray &rest) { return "{" + colours + "," + rest + "}"; };
        QTest::newRow("complete, range fixed")
            << with(R"("chineseSize":0,"englishSize":1e9,"chineseFont":"","englishFont":"","outline":false)")
            << true << 12.0 << 1.0;
        QTest::newRow("size too large")
            << with(R"("chineseSize":1e9,"englishSize":20,"chineseFont":"","englishFont":"","outline":false)")
            << true << 60.0 << 1.0;
        QTest::newRow("null skin")
            << with(R"("chineseSize":30,"englishSize":20,"chineseFont":"","englishFont":"","outline":false,"skin":null)")
            << true << 30.0 << 1.0;
        QTest::newRow("without outline")
            << with(R"("chineseSize":30,"englishSize":20,"chineseFont":"","englishFont":"")") << false
            << 0.0 << 0.0;
        QTest::newRow("size as text")
            << with(R"("chineseSize":"30","englishSize":20,"chineseFont":"","englishFont":"","outline":false)")
            << false << 0.0 << 0.0;
        QTest::newRow("skin a number")
            << with(R"("chineseSize":30,"englishSize":20,"chineseFont":"","englishFont":"","outline":false,"skin":3)")
            << false << 0.0 << 0.0;
        QTest::newRow("colour without alpha")
            << QByteArray(R"({"chineseColor":{"r":1,"g":0,"b":0},"englishColor":{"r":0,"g":0,"b":0,"a":1},"background":{"r":0,"g":0,"b":0,"a":1},"chineseSize":30,"englishSize":20,"chineseFont":"","englishFont":"","outline":false})")
            << false << 0.0 << 0.0;
    }
    void decoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(double, chineseSize);
        QFETCH(double, red);
        const auto look = CaptionAppearance::fromJson(decodeText(json));
        QCOMPARE(look.has_value(), decodes);
        if (!look)
            return;
        QCOMPARE(look->chineseSize, chineseSize);
        QVERIFY(look->englishSize >= 12 && look->englishSize <= 60);
        QCOMPARE(look->chineseColor.r, red);
        QCOMPARE(look->background.a, 0.0);
        QVERIFY(!look->skin);
    }

    void fontTable_data()
    {
        QTest::addColumn<QString>("family");
        QTest::addColumn<QString>("installed");
        QTest::newRow("Heiti") << "Heiti SC" << "Noto Sans CJK SC";
        QTest::newRow("Lantinghei") << "Lantinghei SC" << "Noto Sans CJK SC";
        QTest::newRow("Yuanti") << "Yuanti SC" << "Noto Sans CJK SC";
        QTest::newRow("Songti") << "Songti SC" << "Noto Serif CJK SC";
        QTest::newRow("Kaiti") << "Kaiti SC" << "AR PL UKai CN";
        QTest::newRow("HanziPen") << "HanziPen SC" << "AR PL UKai CN";
        QTest::newRow("Helvetica") << "Helvetica Neue" << "Liberation Sans";
        QTest::newRow("Times") << "Times New Roman" << "Liberation Serif";
        QTest::newRow("Avenir") << "Avenir Next" << "DejaVu Sans";
        QTest::newRow("Georgia") << "Georgia" << "DejaVu Serif";
        QTest::newRow("Menlo") << "Menlo" << "DejaVu Sans Mono";
        QTest::newRow("system") << "" << "";
        QTest::newRow("unknown kept") << "Some Font" << "Some Font";
    }
    void fontTable()
    {
        QFETCH(QString, family);
        QFETCH(QString, installed);
        QCOMPARE(FontFamilies::installed(family), installed);
    }
};



DODEDAROV_TEST(CaptionAppearanceTest)
#include "CaptionAppearanceTest.moc"
