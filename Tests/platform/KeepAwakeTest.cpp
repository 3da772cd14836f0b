#include "TestMain.h"

#include "fakes/FakeScreenSaver.h"
#include "fakes/FakeSessionManager.h"
#include "platform/KeepAwake.h"

#include <QSignalSpy>

class KeepAwakeTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { m_timeout = KeepAwake::timeoutMs; }
    void init() { KeepAwake::timeoutMs = m_timeout; }

    void screenSaver()
    {
        FakeScreenSaver screen;
        QVERIFY(screen.start());
        KeepAwake keep;
        QSignalSpy changed(&keep, &KeepAwake::heldChanged);
        keep.set(true);
        QVERIFY(!keep.held()); // only once the cookie is back
        keep.set(true);
        QVERIFY(changed.wait(10000));
        QVERIFY(keep.held());
        QCOMPARE(keep.route(), KeepAwake::Route::screenSaver);
        keep.set(true);
        QCOMPARE(screen.inhibitions.size(), 1);
        QCOMPARE(screen.inhibitions.first().application, QStringLiteral("泰萨利字幕"));
        QCOMPARE(screen.inhibitions.first().reason, QStringLiteral("泰萨利字幕正在识别和翻译"));

        keep.set(false);
        QVERIFY(!keep.held());
        QTRY_COMPARE_WITH_TIMEOUT(screen.released, QList<uint>{screen.inhibitions.first().cookie}, 10000);
        QVERIFY(screen.active.isEmpty());
        keep.set(false);
        QCOMPARE(changed.size(), 2);

        keep.set(true);
        QTRY_VERIFY_WITH_TIMEOUT(keep.held(), 10000);
        QCOMPARE(screen.inhibitions.size(), 2);
        QCOMPARE(screen.active.size(), 1);
    }

    void falseWhileNothingHeldSendsNothing()
    {
        FakeScreenSaver screen;
        QVERIFY(screen.start());
        KeepAwake keep;
        keep.set(false);
        keep.set(true);
        QTRY_VERIFY_WITH_TIMEOUT(keep.held(), 10000);
        QCOMPARE(screen.calls, QStringList{QStringLiteral("org.freedesktop.ScreenSaver.Inhibit")});
    }

    void sessionManagerWhenNoScreenSaver()
    {
        FakeSessionManager manager;
        QVERIFY(manager.start());
        KeepAwake keep;
        keep.set(true);
        keep.set(true);
        QTRY_VERIFY_WITH_TIMEOUT(keep.held(), 10000);
        QCOMPARE(keep.route(), KeepAwake::Route::sessionManager);
        QCOMPARE(manager.inhibitions.size(), 1);
        const FakeSessionManager::Inhibition &inhibition = manager.inhibitions.first();
        QCOMPARE(inhibition.appId, QStringLiteral("tessaly-dodedarov"));
        QCOMPARE(inhibition.toplevel, 0u);
        QCOMPARE(inhibition.reason, QStringLiteral("泰萨利字幕正在识别和翻译"));
        QCOMPARE(inhibition.flags, 8u);
        keep.set(false);
        QTRY_COMPARE_WITH_TIMEOUT(manager.released, QList<uint>{inhibition.cookie}, 10000);
        QVERIFY(manager.active.isEmpty());
    }

    void failures_data()
    {
        QTest::addColumn<FakeBusService::Answer>("answer"); // of the screen saver; none when normally
        QTest::newRow("no service at all") << FakeBusService::Answer::normally;
        QTest::newRow("an error reply") << FakeBusService::Answer::withError;
        QTest::newRow("no answer within the time-out") << FakeBusService::Answer::never;
    }

    void failures()
    {
        // Each leaves nothing held, and the next call tries again.
        QFETCH(FakeBusService::Answer, answer);
        KeepAwake::timeoutMs = 300;
        std::unique_ptr<FakeScreenSaver> screen;
        if (answer != FakeBusService::Answer::normally) {
            screen = std::make_unique<FakeScreenSaver>();
            QVERIFY(screen->start());
            screen->answer = answer;
        }
        KeepAwake keep;
        QSignalSpy changed(&keep, &KeepAwake::heldChanged);
        keep.set(true);
        QVERIFY(keep.pending());
        QTRY_VERIFY_WITH_TIMEOUT(!keep.pending(), 10000);
        QVERIFY(!keep.held());
        QCOMPARE(changed.size(), 0);

        if (!screen) {
            screen = std::make_unique<FakeScreenSaver>();
            QVERIFY(screen->start());
        }
        screen->answer = FakeBusService::Answer::normally;
        keep.set(true);
        QTRY_VERIFY_WITH_TIMEOUT(keep.held(), 10000);
        QCOMPARE(screen->active.size(), 1);
    }

    void turnedOffWhileAsking()
    {
        FakeScreenSaver screen;
        QVERIFY(screen.start());
        KeepAwake keep;
        keep.set(true);
        keep.set(false);
        QTRY_COMPARE_WITH_TIMEOUT(screen.released.size(), 1, 10000);
        QVERIFY(!keep.held());
        QVERIFY(!keep.pending());
        QVERIFY(screen.active.isEmpty());
    }

private:
    int m_timeout = 0;
};

DODEDAROV_TEST(KeepAwakeTest)
#include "KeepAwakeTest.moc"
