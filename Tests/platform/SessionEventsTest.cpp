#include "TestMain.h"

#include "fakes/FakeLogind.h"
#include "fakes/FakeScreenSaver.h"
#include "fakes/FakeSessionManager.h"
#include "platform/SessionEvents.h"

#include <QDBusConnectionInterface>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

// A round trip to the bus daemon on the connection SessionEvents uses: its match rules, sent
// before, are in place once the answer is back.
void syncWithBus()
{
    QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
}

struct Counts {
    int sleep = 0, lock = 0, shutdown = 0, query = 0, end = 0;
};

SessionEvents::Callbacks counting(Counts &counts)
{
    SessionEvents::Callbacks callbacks;
    callbacks.sleep = [&counts] { ++counts.sleep; };
    callbacks.lock = [&counts] { ++counts.lock; };
    callbacks.shutdown = [&counts] { ++counts.shutdown; };
    callbacks.queryEndSession = [&counts] { ++counts.query; };
    callbacks.endSession = [&counts] { ++counts.end; };
    return callbacks;
}

} // namespace

class SessionEventsTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(QDBusConnection::sessionBus().isConnected());
        SessionEvents::logindBus = QDBusConnection::SessionBus;
    }

    void watchedSignals_data()
    {
        QTest::addColumn<QString>("source"); // logind, freedesktop, gnome
        QTest::addColumn<QString>("name");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<int>("sleep");
        QTest::addColumn<int>("lock");
        QTest::addColumn<int>("shutdown");
        QTest::newRow("sleep") << "logind" << "PrepareForSleep" << QVariantList{true} << 1 << 0 << 0;
        QTest::newRow("woken up") << "logind" << "PrepareForSleep" << QVariantList{false} << 0 << 0 << 0;
        QTest::newRow("sleep with a text") << "logind" << "PrepareForSleep" << QVariantList{QStringLiteral("true")} << 0 << 0 << 0;
        QTest::newRow("sleep with two flags") << "logind" << "PrepareForSleep" << QVariantList{true, true} << 0 << 0 << 0;
        QTest::newRow("sleep without argument") << "logind" << "PrepareForSleep" << QVariantList{} << 0 << 0 << 0;
        QTest::newRow("shutdown") << "logind" << "PrepareForShutdown" << QVariantList{true} << 0 << 0 << 1;
        QTest::newRow("shutdown cancelled") << "logind" << "PrepareForShutdown" << QVariantList{false} << 0 << 0 << 0;
        QTest::newRow("freedesktop lock") << "freedesktop" << "ActiveChanged" << QVariantList{true} << 0 << 1 << 0;
        QTest::newRow("freedesktop unlock") << "freedesktop" << "ActiveChanged" << QVariantList{false} << 0 << 0 << 0;
        QTest::newRow("gnome lock") << "gnome" << "ActiveChanged" << QVariantList{true} << 0 << 1 << 0;
        QTest::newRow("gnome unlock") << "gnome" << "ActiveChanged" << QVariantList{false} << 0 << 0 << 0;
        QTest::newRow("lock as a number") << "gnome" << "ActiveChanged" << QVariantList{1u} << 0 << 0 << 0;
        QTest::newRow("another logind signal") << "logind" << "SessionNew" << QVariantList{QStringLiteral("1"), QStringLiteral("/x")} << 0 << 0 << 0;
    }

    void watchedSignals()
    {
        QFETCH(QString, source);
        QFETCH(QString, name);
        QFETCH(QVariantList, args);
        FakeLogind logind;
        FakeScreenSaver screen;
        QVERIFY(logind.start());
        QVERIFY(screen.start());
        Counts counts;
        SessionEvents events(counting(counts));
        events.start();
        syncWithBus();

        if (source == QLatin1String("logind"))
            logind.emitSignal(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"), name, args);
        else if (source == QLatin1String("freedesktop"))
            screen.emitSignal(QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("org.freedesktop.ScreenSaver"), name, args);
        else
            screen.emitSignal(QStringLiteral("/org/gnome/ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver"), name, args);
        // A marker sent after it by the same sender: once it is in, the signal under test has been
        // handled or dropped. A logind marker for the screen savers and a lock for logind.
        // The wait counts the signal under test too when it counts for the marker's callback.
        if (source == QLatin1String("logind")) {
            QFETCH(int, shutdown);
            logind.emitSignal(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
                QStringLiteral("PrepareForShutdown"), {true});
            QTRY_VERIFY_WITH_TIMEOUT(counts.shutdown >= shutdown + 1, 10000);
            --counts.shutdown;
        } else {
            QFETCH(int, lock);
            screen.activeChanged(true, source == QLatin1String("gnome"));
            QTRY_VERIFY_WITH_TIMEOUT(counts.lock >= lock + 1, 10000);
            --counts.lock;
        }
        QTEST(counts.sleep, "sleep");
        QTEST(counts.lock, "lock");
        QTEST(counts.shutdown, "shutdown");
    }

    void signalsFromAnotherSenderAreIgnored()
    {
        // Someone else on the bus sending logind's signal is not logind.
        FakeLogind logind;
        QVERIFY(logind.start());
        FakeBusService impostor(QStringLiteral("org.example.Impostor"));
        QVERIFY(impostor.start());
        Counts counts;
        SessionEvents events(counting(counts));
        events.start();
        syncWithBus();
        impostor.emitSignal(QStringLiteral("/org/freedesktop/login1"), QStringLiteral("org.freedesktop.login1.Manager"),
            QStringLiteral("PrepareForSleep"), {true});
        // Once the daemon has answered the impostor, it has passed the signal on; logind's marker,
        // sent after, arrives after it.
        impostor.bus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.DBus"));
        logind.prepareForShutdown(true);
        QTRY_COMPARE_WITH_TIMEOUT(counts.shutdown, 1, 10000);
        QCOMPARE(counts.sleep, 0);
    }

    void delayInhibitorHeldAndReleased()
    {
        FakeLogind logind;
        QVERIFY(logind.start());
        Counts counts;
        SessionEvents events(counting(counts));
        events.start();
        QSignalSpy changed(&events, &SessionEvents::inhibitorChanged);
        events.holdInhibitor();
        events.holdInhibitor(); // one request out at a time
        QVERIFY(changed.wait(10000));
        QVERIFY(events.inhibitorHeld());
        events.holdInhibitor(); // and one held
        QCOMPARE(logind.inhibitors.size(), 1);
        const FakeLogind::Inhibitor &inhibitor = logind.inhibitors.first();
        QCOMPARE(inhibitor.what, QStringLiteral("sleep:shutdown"));
        QCOMPARE(inhibitor.who, SessionEvents::inhibitorWho);
        QCOMPARE(inhibitor.why, SessionEvents::inhibitorWhy);
        QCOMPARE(inhibitor.mode, QStringLiteral("delay"));
        QCOMPARE(logind.held(), 1);

        QSignalSpy released(&logind, &FakeLogind::inhibitorReleased);
        events.releaseInhibitor();
        QVERIFY(!events.inhibitorHeld());
        QVERIFY(released.wait(10000));
        QCOMPARE(logind.held(), 0);
        events.releaseInhibitor(); // nothing held: nothing happens
        QCOMPARE(changed.size(), 2);

        // Taken again for the next meeting.
        events.holdInhibitor();
        QTRY_VERIFY_WITH_TIMEOUT(events.inhibitorHeld(), 10000);
        QCOMPARE(logind.inhibitors.size(), 2);
        QCOMPARE(logind.held(), 1);
    }

    void releasedWhileAskedFor()
    {
        FakeLogind logind;
        QVERIFY(logind.start());
        Counts counts;
        SessionEvents events(counting(counts));
        QSignalSpy released(&logind, &FakeLogind::inhibitorReleased);
        events.holdInhibitor();
        QVERIFY(events.inhibitorPending());
        events.releaseInhibitor();
        QVERIFY(released.wait(10000));
        QVERIFY(!events.inhibitorPending());
        QVERIFY(!events.inhibitorHeld());
        QCOMPARE(logind.held(), 0);
    }

    void withoutLogindNothingIsHeld()
    {
        Counts counts;
        SessionEvents events(counting(counts));
        events.start();
        events.holdInhibitor();
        QTRY_VERIFY_WITH_TIMEOUT(!events.inhibitorPending(), 10000);
        QVERIFY(!events.inhibitorHeld());
        events.releaseInhibitor();

        // A logind that refuses is the same.
        FakeLogind logind;
        QVERIFY(logind.start());
        logind.answer = FakeBusService::Answer::withError;
        events.holdInhibitor();
        QTRY_VERIFY_WITH_TIMEOUT(!events.inhibitorPending(), 10000);
        QVERIFY(!events.inhibitorHeld());
        QCOMPARE(logind.calls.size(), 1);
    }

    void endOfSession_data()
    {
        QTest::addColumn<bool>("query");
        QTest::newRow("query end session") << true;
        QTest::newRow("end session") << false;
    }

    void endOfSession()
    {
        QFETCH(bool, query);
        FakeSessionManager manager;
        QVERIFY(manager.start());
        QTemporaryDir folder;
        const QString record = folder.filePath(QStringLiteral("record.txt"));
        Counts counts;
        SessionEvents::Callbacks callbacks = counting(counts);
        // The owner's save stands in for the final save of the record.
        auto save = [record] {
            QFile file(record);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("saved");
        };
        callbacks.queryEndSession = [&counts, save] { ++counts.query; save(); };
        callbacks.endSession = [&counts, save] { ++counts.end; save(); };
        SessionEvents events(callbacks);
        QSignalSpy registered(&events, &SessionEvents::registered);
        events.start();
        QVERIFY(registered.wait(10000));
        QCOMPARE(manager.clients.size(), 1);
        QCOMPARE(manager.clients.first().appId, QStringLiteral("tessaly-dodedarov"));
        QCOMPARE(manager.clients.first().startupId, QString());
        QCOMPARE(events.clientPath(), manager.clients.first().path);
        syncWithBus();

        bool savedFirst = false;
        connect(&manager, &FakeSessionManager::responded, this, [&] { savedFirst = QFile::exists(record); });
        QSignalSpy responded(&manager, &FakeSessionManager::responded);
        // Signals for another client, and with other arguments, are not ours to answer.
        manager.endSession(QStringLiteral("/org/gnome/SessionManager/Client99"));
        manager.emitSignal(events.clientPath(), QStringLiteral("org.gnome.SessionManager.ClientPrivate"),
            query ? QStringLiteral("QueryEndSession") : QStringLiteral("EndSession"), {QStringLiteral("now")});
        if (query)
            manager.queryEndSession(events.clientPath(), 1);
        else
            manager.endSession(events.clientPath(), 1);
        QVERIFY(responded.wait(10000));
        QVERIFY(savedFirst);
        QCOMPARE(manager.responses.size(), 1);
        QCOMPARE(manager.responses.first().clientPath, events.clientPath());
        QCOMPARE(manager.responses.first().ok, true);
        QCOMPARE(manager.responses.first().reason, QString());
        QCOMPARE(counts.query, query ? 1 : 0);
        QCOMPARE(counts.end, query ? 0 : 1);
    }
};

DODEDAROV_TEST(SessionEventsTest)
#include "SessionEventsTest.moc"
