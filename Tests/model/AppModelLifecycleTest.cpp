#include "TestMain.h"

#include "fakes/ModelRig.h"
#include "platform/Keychain.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

namespace {

CaptionLine finishedLine(int id, const QString &english, const QString &chinese = {})
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

// Keys for both services in the test keyring; the recognition key is the one the fake accepts.
void storeKeys(ModelRig &rig, bool translation = true)
{
    ModelRig::storeKey(Keychain::elevenLabsAccount, QString::fromUtf8(rig.scribe.expectedKey));
    ModelRig::storeKey(Keychain::deepSeekAccount, translation ? QStringLiteral("sk-test-deepseek") : QString());
}

int eventCount(const AppModel &model, const QString &kind)
{
    int n = 0;
    for (const DiagnosticEvent &event : model.diag().events())
        n += event.kind == kind ? 1 : 0;
    return n;
}

constexpr int engineTimeout = 20000;

// Counts the meetings a model begins from now on: beginning one is what makes it active.
class MeetingsBegun final {
public:
    explicit MeetingsBegun(AppModel &model)
    {
        QObject::connect(&model, &AppModel::meetingActiveChanged, &m_context, [this, &model] {
            if (model.meetingActive())
                ++count;
        });
    }
    int count = 0;

private:
    QObject m_context;
};

} // namespace

// Starting, pausing, resuming, ending and renewing a meeting on the real engine, and what is
// saved when the application quits.
class AppModelLifecycleTest final : public QObject {
    Q_OBJECT

private slots:
    void startNeedsKeys_data()
    {
        QTest::addColumn<bool>("recognitionKey");
        QTest::addColumn<bool>("translationKey");
        QTest::addColumn<DisplayMode>("mode");
        QTest::addColumn<QString>("notice");

        const QString noRecognition = QStringLiteral("还没有语音识别的密钥：请在设置里填 ElevenLabs 的 API Key。");
        const QString noTranslation = QStringLiteral("还没有翻译的密钥：请在设置里填 DeepSeek 的 API Key。");
        QTest::newRow("no recognition key") << false << true << DisplayMode::both << noRecognition;
        QTest::newRow("both without translation") << true << false << DisplayMode::both << noTranslation;
        QTest::newRow("chinese without translation") << true << false << DisplayMode::chinese << noTranslation;
        QTest::newRow("english without translation") << true << false << DisplayMode::english << QString();
    }
    void startNeedsKeys()
    {
        QFETCH(bool, recognitionKey);
        QFETCH(bool, translationKey);
        QFETCH(DisplayMode, mode);
        QFETCH(QString, notice);

        ModelRig rig;
        storeKeys(rig, translationKey);
        if (!recognitionKey)
            ModelRig::storeKey(Keychain::elevenLabsAccount, QString());
        int settingsShown = 0;
        rig.platform.showSettings = [&] { ++settingsShown; };
        AppModel &model = rig.make();
        model.setMode(mode);
        const MeetingsBegun begun(model);

        model.startOrResume();
        if (notice.isEmpty()) {
            QVERIFY(model.running());
            QVERIFY(model.meetingActive());
            QCOMPARE(settingsShown, 0);
            QCOMPARE(model.notice(), std::nullopt);
            model.toggle();
            QTRY_VERIFY_WITH_TIMEOUT(!model.running(), engineTimeout);
        } else {
            QCOMPARE(model.notice(), std::optional<QString>(notice));
            QCOMPARE(settingsShown, 1);
            QVERIFY(!model.running());
            QVERIFY(!model.meetingActive());
            QCOMPARE(begun.count, 0);
        }
    }

    void toggleTwiceStopsOnReport()
    {
        ModelRig rig;
        storeKeys(rig);
        QList<bool> keepAwake;
        rig.platform.setKeepAwake = [&](bool on) { keepAwake.append(on); };
        AppModel &model = rig.make();
        model.toggle();
        QVERIFY(model.running());
        QCOMPARE(keepAwake, QList<bool>{true});
        model.toggle();
        // Still listening until the engine reports the stop; a second press asks again.
        QVERIFY(model.running());
        model.toggle();
        QCOMPARE(eventCount(model, QStringLiteral("pause")), 2);
        QTRY_VERIFY_WITH_TIMEOUT(!model.running(), engineTimeout);
        QVERIFY(model.meetingActive());
        QCOMPARE(model.statusNote(), std::optional<QString>(QStringLiteral("已暂停")));
    }

    void resumeKeepsMeeting()
    {
        ModelRig rig;
        storeKeys(rig);
        AppModel &model = rig.make();
        const MeetingsBegun begun(model);
        model.startOrResume();
        const std::optional<QString> file = model.transcript().fileURL();
        QVERIFY(file);
        rig.setLines({finishedLine(0, QStringLiteral("Hello there."), QStringLiteral("你好。"))});
        model.setRecap(QStringLiteral("前情"));
        model.toggle();
        QTRY_VERIFY_WITH_TIMEOUT(!model.running(), engineTimeout);

        model.startOrResume();
        QVERIFY(model.running());
        QCOMPARE(begun.count, 1);
        QCOMPARE(model.lines().size(), 1);
        QCOMPARE(model.recap(), QStringLiteral("前情"));
        QCOMPARE(model.transcript().fileURL(), file);
        QCOMPARE(eventCount(model, QStringLiteral("start")), 1);
        model.toggle();
        QTRY_VERIFY_WITH_TIMEOUT(!model.running(), engineTimeout);
    }

    void beginMeetingResets()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        SessionNote typed;
        typed.id = 1;
        typed.text = QStringLiteral("Speaker: Tarvick");
        model.setNotes({typed});
        const MeetingsBegun begun(model);
        rig.beginMeeting();
        // Notes typed while no meeting was open are this meeting's.
        QCOMPARE(model.notes().size(), 1);
        QCOMPARE(begun.count, 1);
        const QList<DiagnosticEvent> events = model.diag().events();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].kind, QStringLiteral("start"));
        QCOMPARE(events[0].fields.value(QStringLiteral("source")), QStringLiteral("system"));
        QVERIFY(events[0].fields.contains(QStringLiteral("version")));
        QCOMPARE(model.pipeline().rawLanguage(), std::nullopt);

        rig.setLines({finishedLine(0, QStringLiteral("Hello there."))});
        model.setRecap(QStringLiteral("前情"));
        model.setMode(DisplayMode::english);
        model.setMeetingActiveState(false);
        rig.beginMeeting();
        QCOMPARE(begun.count, 2);
        QVERIFY(model.notes().isEmpty());
        QVERIFY(model.lines().isEmpty());
        QVERIFY(model.recap().isEmpty());
        QCOMPARE(model.pipeline().rawLanguage(), std::optional<SpeechLanguage>(SpeechLanguage::english));
        QVERIFY(model.meetingActive());
        // The previous record was completed before the new one was begun.
        QTRY_COMPARE_WITH_TIMEOUT(QDir(rig.recordsFolder()).entryList(QDir::Files).size(), 1, 10000);
    }

    void endMeeting_data()
    {
        QTest::addColumn<bool>("listening");
        QTest::newRow("paused") << false;
        QTest::newRow("listening") << true;
    }
    void endMeeting()
    {
        QFETCH(bool, listening);
        ModelRig rig;
        storeKeys(rig);
        QStringList revealed;
        rig.platform.revealFile = [&](const QString &file) { revealed.append(file); };
        AppModel &model = rig.make();
        model.setProofreadAfterMeeting(false);
        model.setDiagnosticsEnabled(false);
        model.startOrResume();
        rig.setLines({finishedLine(0, QStringLiteral("Hello there."), QStringLiteral("你好。"))});
        const QString file = *model.transcript().fileURL();
        if (!listening) {
            model.toggle();
            QTRY_VERIFY_WITH_TIMEOUT(!model.running(), engineTimeout);
        }
        model.endMeeting();
        if (listening) {
            // The end waits for the engine's stop report.
            QVERIFY(model.meetingActive());
            QTRY_VERIFY_WITH_TIMEOUT(!model.meetingActive(), engineTimeout);
        }
        QVERIFY(!model.meetingActive());
        QVERIFY(!model.running());
        QCOMPARE(revealed, QStringList{file});
        QVERIFY(readFile(file).contains(QStringLiteral("Hello there.")));
        QCOMPARE(model.statusNote(), std::optional<QString>(QStringLiteral("会议已结束")));

        // Nothing is open any more: a second end does nothing.
        model.endMeeting();
        QCOMPARE(revealed.size(), 1);
    }

    void newMeeting_data()
    {
        QTest::addColumn<bool>("open");
        QTest::newRow("none open") << false;
        QTest::newRow("listening") << true;
    }
    void newMeeting()
    {
        QFETCH(bool, open);
        ModelRig rig;
        storeKeys(rig);
        QStringList revealed;
        rig.platform.revealFile = [&](const QString &file) { revealed.append(file); };
        AppModel &model = rig.make();
        model.setProofreadAfterMeeting(false);
        const MeetingsBegun begun(model);
        std::optional<QString> first;
        if (open) {
            model.startOrResume();
            first = model.transcript().fileURL();
            rig.setLines({finishedLine(0, QStringLiteral("First meeting."))});
        }
        model.newMeeting();
        QTRY_COMPARE_WITH_TIMEOUT(begun.count, open ? 2 : 1, engineTimeout);
        QTRY_VERIFY_WITH_TIMEOUT(model.running(), engineTimeout);
        QVERIFY(model.meetingActive());
        QVERIFY(model.lines().isEmpty());
        // A new meeting reveals nothing; the old record is complete on disk.
        QVERIFY(revealed.isEmpty());
        QCOMPARE(model.proofreadStatus(), std::nullopt);
        if (open) {
            QVERIFY(model.transcript().fileURL() != first);
            QTRY_VERIFY_WITH_TIMEOUT(readFile(*first).contains(QStringLiteral("First meeting.")), 10000);
        }
        model.toggle();
        QTRY_VERIFY_WITH_TIMEOUT(!model.running(), engineTimeout);
    }

    void afterStopRunsOnce()
    {
        ModelRig rig;
        storeKeys(rig);
        AppModel &model = rig.make();
        model.setProofreadAfterMeeting(false);
        model.setDiagnosticsEnabled(false);
        model.startOrResume();
        model.endMeeting();
        QTRY_VERIFY_WITH_TIMEOUT(!model.meetingActive(), engineTimeout);
        // A later start and pause must not run the end action again.
        model.startOrResume();
        QVERIFY(model.meetingActive());
        model.toggle();
        QTRY_VERIFY_WITH_TIMEOUT(!model.running(), engineTimeout);
        QVERIFY(model.meetingActive());
    }

    void quitKeepsPartial()
    {
        ModelRig rig;
        storeKeys(rig);
        QList<bool> keepAwake;
        rig.platform.setKeepAwake = [&](bool on) { keepAwake.append(on); };
        AppModel &model = rig.make();
        model.startOrResume();
        rig.setLines({finishedLine(0, QStringLiteral("Before the end."), QStringLiteral("结束前。"))});
        rig.setLastPartial(QStringLiteral("and the last words we heard"));
        const QString file = *model.transcript().fileURL();

        model.quitOnce();
        // Synchronous: the record is whole on disk when the call returns.
        const QString text = readFile(file);
        QVERIFY2(text.contains(QStringLiteral("and the last words we heard")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("结束前。")));
        const CaptionLine &last = model.lines().constLast();
        QVERIFY(last.finished);
        QVERIFY(last.chinese.isEmpty());
        QCOMPARE(keepAwake, (QList<bool>{true, false}));

        // Only the first call acts.
        QFile::remove(file);
        model.quitOnce();
        QVERIFY(!QFile::exists(file));
        QCOMPARE(keepAwake, (QList<bool>{true, false}));
    }

    void minimizeHidesPanel()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.setMaximized(true);
        model.setHovering(true);
        QStringList order;
        connect(&model, &AppModel::panelVisibleChanged, this, [&] { order << "panel"; });
        connect(&model, &AppModel::hoveringChanged, this, [&] { order << "hovering"; });
        connect(&model, &AppModel::maximizedChanged, this, [&] { order << "maximized"; });
        model.minimize();
        QVERIFY(!model.panelVisible() && !model.hovering() && !model.maximized());
        QCOMPARE(order, (QStringList{"panel", "hovering", "maximized"}));
    }

    void openTranscriptsCreatesFolder()
    {
        ModelRig rig;
        QStringList opened;
        rig.platform.openFolder = [&](const QString &folder) { opened.append(folder); };
        AppModel &model = rig.make();
        QVERIFY(!QDir(rig.recordsFolder()).exists());
        model.openTranscripts();
        QVERIFY(QDir(rig.recordsFolder()).exists());
        QCOMPARE(opened, QStringList{model.transcript().directory()});
    }

    void finalizeRecordCompletesLines()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.setProofreadAfterMeeting(false);
        model.setDiagnosticsEnabled(false);
        rig.beginMeeting();
        CaptionLine streaming = finishedLine(0, QStringLiteral("Half translated line."), QStringLiteral("一半"));
        streaming.finished = false;
        rig.setLines({streaming});
        const QString file = *model.transcript().fileURL();
        model.endMeeting();
        // The next meeting completes the record: the line as far as it had streamed.
        rig.beginMeeting();
        QTRY_VERIFY_WITH_TIMEOUT(readFile(file).contains(QStringLiteral("一半")), 10000);
        QVERIFY(readFile(file).contains(QStringLiteral("Half translated line.")));
    }
};

DODEDAROV_TEST(AppModelLifecycleTest)
#include "AppModelLifecycleTest.moc"
