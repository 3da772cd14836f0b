#include "TestMain.h"

#include "common/UserDefaults.h"
#include "fakes/ModelRig.h"

#include <QSignalSpy>
#include <QTest>

// The font-size keys and menu items: a step that changes nothing saves nothing, and resizing
// keeps a preset look's label.
class AppModelFontSizeTest final : public QObject {
    Q_OBJECT

private slots:
    void adjustFontSize_data()
    {
        QTest::addColumn<double>("chinese");
        QTest::addColumn<double>("english");
        QTest::addColumn<double>("delta");
        QTest::addColumn<bool>("assigned");
        QTest::addColumn<bool>("relaid");
        QTest::newRow("larger") << 30.0 << 20.0 << 2.0 << true << true;
        QTest::newRow("smaller") << 30.0 << 20.0 << -2.0 << true << true;
        QTest::newRow("at the top") << 60.0 << 60.0 << 2.0 << false << false;
        QTest::newRow("top, English still grows") << 60.0 << 18.0 << 2.0 << true << false;
        QTest::newRow("at the bottom") << 12.0 << 12.0 << -2.0 << false << false;
    }
    void adjustFontSize()
    {
        QFETCH(double, chinese);
        QFETCH(double, english);
        QFETCH(double, delta);
        QFETCH(bool, assigned);
        QFETCH(bool, relaid);
        ModelRig rig;
        AppModel &model = rig.make();
        CaptionAppearance look = model.appearance();
        look.chineseSize = chinese;
        look.englishSize = english;
        look.skin = QStringLiteral("tech");
        model.setAppearance(look);
        UserDefaults::remove(QStringLiteral("captionAppearance"));
        QSignalSpy changed(&model, &AppModel::appearanceChanged);
        int measured = 0;
        rig.platform.measurer = [&](double size) {
            ++measured;
            return AppModel::estimatedMeasure(size);
        };

        model.adjustFontSize(delta);
        QCOMPARE(changed.count(), assigned ? 1 : 0);
        QCOMPARE(UserDefaults::json(QStringLiteral("captionAppearance")).has_value(), assigned);
        QCOMPARE(measured > 0, relaid);
        QCOMPARE(model.appearance(), assigned ? look.scaled(delta) : look);
        QCOMPARE(model.appearance().skin, std::optional<QString>(QStringLiteral("tech")));
    }
};

DODEDAROV_TEST(AppModelFontSizeTest)
#include "AppModelFontSizeTest.moc"
