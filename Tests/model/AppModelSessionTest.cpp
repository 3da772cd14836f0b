#include "TestMain.h"

#include "fakes/FakeLogind.h"
#include "fakes/FakeScreenSaver.h"
#include "fakes/FakeSessionManager.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "platform/SessionEvents.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

CaptionLine finishedLine(int id, const QString &english, const QString &chinese)
{
    CaptionLine l;
    l.id = id;
    l.english = english;
    l.chinese = chinese;
    l.finished = true;
    l.time = QDateTime(QDate(2026, 5, 4), QTime(9, 31, id % 60));
    return l;
}

QString readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

constexpr int timeout = 20000;

// A listening meeting on the real engine, watching the session on the private bus where the
// fakes of logind, the screen saver and the session manager run.
struct SessionRig {
    ModelRig rig;
    FakeLogind logind;
    FakeScreenSaver screen;
    FakeSessionManager manager;
    AppModel *model = nullptr;

    SessionRig()
    {
        SessionEvents::logindBus = QDBusConnection::SessionBus;
        if (!logind.start() || !screen.start() || !manager.start())
            qFatal("cannot start the session fakes");
        ModelRig::storeKey(Keychain::elevenLabsAccount, QString::fromUtf8(rig.scribe.expectedKey));
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-session"));
        model = &rig.make();
        model->setProofreadAfterMeeting(false);
        model->watchSession();
    }
    ~SessionRig() { SessionEvents::logindBus = QDBusConnection::SystemBus; }

    void listen()
    {
        model->startOrResume();
        rig.setLines({finishedLine(0, QStringLiteral("Spoken before the pause."), QStringLiteral("暂停前说的。"))});
    }
    QString record() const { return *model->transcript().fileURL(); }
};

} // namespace

// Sleep, screen lock, shutdown and logout reach the meeting through the session's D-Bus
// services: listening pauses, or the application's quit path runs, and the record is on disk
// before the machine or the session goes on.
class AppModelSessionTest final : public QObject {
    Q_OBJECT

private slots:
    void pauses_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<bool>("keepAwake");
        QTest::addColumn<QString>("notice"); // empty: listening goes on
        const QString lock = QStringLiteral("屏幕已锁定，已自动暂停。（设置里打开“工作时保持唤醒”可以锁屏后继续）");
        QTest::newRow("sleep") << "sleep" << true << QStringLiteral("电脑进入睡眠，已自动暂停。");
        QTest::newRow("freedesktop lock") << "lock" << false << lock;
        QTest::newRow("gnome lock") << "gnome lock" << false << lock;
        QTest::newRow("lock, keep awake") << "lock" << true << QString();
        QTest::newRow("unlock") << "unlock" << false << QString();
    }
    void pauses()
    {
        QFETCH(QString, event);
        QFETCH(bool, keepAwake);
        QFETCH(QString, notice);
        SessionRig s;
        s.model->setKeepAwakeSetting(keepAwake);
        s.listen();
        // Listening holds the delay inhibitor.
        QTRY_COMPARE_WITH_TIMEOUT(s.logind.held(), 1, timeout);
        QCOMPARE(s.logind.inhibitors.constFirst().mode, QStringLiteral("delay"));
        // What the record holds at the moment the inhibitor goes, not some time later.
        QString atRelease;
        QObject::connect(&s.logind, &FakeLogind::inhibitorReleased, &s.logind,
                         [&] { atRelease = readFile(s.record()); });

        if (event == QLatin1String("sleep"))
            s.logind.prepareForSleep(true);
        else if (event == QLatin1String("unlock"))
            s.screen.activeChanged(false);
        else
            s.screen.activeChanged(true, event == QLatin1String("gnome lock"));

        if (notice.isEmpty()) {
            // Give the signal time to arrive: a second, later signal that does act proves it.
            s.logind.prepareForSleep(true);
            QTRY_VERIFY_WITH_TIMEOUT(!s.model->running(), timeout);
            QCOMPARE(s.model->notice(), std::optional<QString>(QStringLiteral("电脑进入睡眠，已自动暂停。")));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!s.model->running(), timeout);
            QCOMPARE(s.model->notice(), std::optional<QString>(notice));
        }
        QVERIFY(s.model->meetingActive());
        // The pause's record is on disk before the inhibitor goes.
        QTRY_COMPARE_WITH_TIMEOUT(s.logind.held(), 0, timeout);
        QVERIFY2(atRelease.contains(QStringLiteral("暂停前说的。")), qPrintable(atRelease));
    }

    void shutdownQuits()
    {
        SessionRig s;
        s.listen();
        s.rig.setLastPartial(QStringLiteral("words still on screen"));
        QTRY_COMPARE_WITH_TIMEOUT(s.logind.held(), 1, timeout);
        QSignalSpy released(&s.logind, &FakeLogind::inhibitorReleased);
        s.logind.prepareForShutdown(true);
        QVERIFY(released.wait(timeout));
        const QString text = readFile(s.record());
        QVERIFY(text.contains(QStringLiteral("暂停前说的。")));
        QVERIFY(text.contains(QStringLiteral("words still on screen")));
    }

    // A shutdown that is called off leaves the app running: the next shutdown is delayed again
    // and its quit saves again.
    void cancelledShutdown()
    {
        SessionRig s;
        s.listen();
        QTRY_COMPARE_WITH_TIMEOUT(s.logind.held(), 1, timeout);
        QSignalSpy released(&s.logind, &FakeLogind::inhibitorReleased);
        s.logind.prepareForShutdown(true);
        QVERIFY(released.wait(timeout));
        QTRY_VERIFY_WITH_TIMEOUT(!s.model->running(), timeout);
        s.logind.prepareForShutdown(false);
        // Listening again takes the inhibitor again.
        s.model->startOrResume();
        QTRY_VERIFY_WITH_TIMEOUT(s.model->running(), timeout);
        QTRY_COMPARE_WITH_TIMEOUT(s.logind.held(), 1, timeout);

        s.rig.setLines({finishedLine(0, QStringLiteral("Spoken after the cancelled shutdown."),
                                     QStringLiteral("取消关机以后说的。"))});
        QString atRelease;
        QObject::connect(&s.logind, &FakeLogind::inhibitorReleased, &s.logind,
                         [&] { atRelease = readFile(s.record()); });
        s.logind.prepareForShutdown(true);
        QTRY_COMPARE_WITH_TIMEOUT(s.logind.held(), 0, timeout);
        QVERIFY2(atRelease.contains(QStringLiteral("取消关机以后说的。")), qPrintable(atRelease));
    }

    void endSessionSavesBeforeAnswer()
    {
        SessionRig s;
        // The model hears the session manager's questions once its registration has come back
        // and it has subscribed to its client object; the fake lists the client earlier.
        QTRY_VERIFY_WITH_TIMEOUT(!s.model->sessionEvents()->clientPath().isEmpty(), timeout);
        QCOMPARE(s.manager.clients.size(), 1);
        s.listen();
        s.rig.setLastPartial(QStringLiteral("the last partial sentence"));
        QString atAnswer;
        QObject::connect(&s.manager, &FakeSessionManager::responded, &s.manager,
                         [&] { atAnswer = readFile(s.record()); });

        s.manager.queryEndSession(s.manager.clients.constFirst().path);
        QTRY_COMPARE_WITH_TIMEOUT(s.manager.responses.size(), 1, timeout);
        // Asking changes nothing.
        QVERIFY(s.model->running());
        QVERIFY(atAnswer.isEmpty());

        s.manager.endSession(s.manager.clients.constFirst().path);
        QTRY_COMPARE_WITH_TIMEOUT(s.manager.responses.size(), 2, timeout);
        QVERIFY(s.manager.responses.last().ok);
        QVERIFY2(atAnswer.contains(QStringLiteral("the last partial sentence")), qPrintable(atAnswer));

        // The application's own quit afterwards does nothing more. The stop that the end
        // caused may still save on its timer or on the writer's queue: let that land first.
        QTRY_VERIFY_WITH_TIMEOUT(!s.model->running() && !s.model->savePending(), timeout);
        QVERIFY(s.model->transcript().saveSidecar(s.record(), QStringLiteral("drained"), QString()));
        QFile::remove(s.record());
        s.model->quitOnce();
        QVERIFY(!QFile::exists(s.record()));
    }
};

DODEDAROV_TEST(AppModelSessionTest)
#include "AppModelSessionTest.moc"
