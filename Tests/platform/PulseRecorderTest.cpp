#include "TestMain.h"

#include "fakes/PrivateSoundServer.h"
#include "platform/PulseRecorder.h"

#include <QLocalServer>
#include <QTemporaryDir>

class PulseRecorderTest final : public QObject {
    Q_OBJECT

private slots:
    void unresponsiveServerTimesOut();
};

void PulseRecorderTest::unresponsiveServerTimesOut()
{
    // A socket that accepts connections and never answers, like a hung sound server: open()
    // gives up after its own time-out instead of blocking the caller's queue for good.
    QTemporaryDir dir;
    QLocalServer silent;
    QVERIFY(silent.listen(dir.filePath(QStringLiteral("sock"))));
    PrivateSoundServer::Use use(QStringLiteral("unix:") + dir.filePath(QStringLiteral("sock")));

    PulseRecorder recorder(PulseRecorder::Device::defaultOutputMonitor, QStringLiteral("test.recorder"));
    const std::optional<PulseRecorder::Failure> failure = recorder.open();
    QVERIFY(failure);
    QCOMPARE(failure->step, PulseRecorder::Step::connect);
    QVERIFY(failure->status != 0);
    QVERIFY(!failure->description.isEmpty());
}

DODEDAROV_TEST(PulseRecorderTest)
#include "PulseRecorderTest.moc"
