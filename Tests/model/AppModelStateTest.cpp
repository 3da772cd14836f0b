#include "TestMain.h"

#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "translation/DeepSeekTransport.h"
#include "translation/TranslationRouting.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <thread>

namespace {

CaptionLine line(int id, const QString &english)
{
    CaptionLine l;
    l.id = id;
    l.english = english;
    return l;
}

} // namespace

// The model's state around the captions: the status line, the translation status texts, the
// engine's callbacks arriving from another thread, the translator's context and the
// transport's routing hooks.
class AppModelStateTest final : public QObject {
    Q_OBJECT

private slots:
    void captionValues()
    {
        CaptionLine a = line(3, QStringLiteral("hello"));
        a.time = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
        CaptionLine b = a;
        QCOMPARE(a, b);
        const QList<std::function<void(CaptionLine &)>> edits {
            [](CaptionLine &l) { l.id = 4; },
            [](CaptionLine &l) { l.english = "x"; },
            [](CaptionLine &l) { l.chinese = "x"; },
            [](CaptionLine &l) { l.finished = true; },
            [](CaptionLine &l) { l.failed = true; },
            [](CaptionLine &l) { l.newTurn = true; },
            [](CaptionLine &l) { l.time = l.time.addSecs(1); },
            [](CaptionLine &l) { l.merged = true; },
            [](CaptionLine &l) { l.revised = CaptionLine::Revision {"a", "b", "c"}; },
            [](CaptionLine &l) { l.alt = "x"; },
            [](CaptionLine &l) { l.language = SpeechLanguage::chinese; },
            [](CaptionLine &l) { l.pieces = 2; },
            [](CaptionLine &l) { l.fixed = {"x"}; },
        };
        for (const auto &edit : edits) {
            CaptionLine c = a;
            edit(c);
            QVERIFY(!(c == a));
        }
        QCOMPARE(AppModel::Platform().recordsFolder(), TranscriptWriter::defaultDirectory());
        QCOMPARE(DisplayModes::fromString(QStringLiteral("english")), DisplayMode::english);
        QVERIFY(!DisplayModes::fromString(QStringLiteral("Both")));
    }

    void startupState()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-1"));
        AppModel &model = rig.make();
        QVERIFY(model.keys().hasDeepSeekKey() && model.keys().hasTranslationKey());
        QVERIFY(!model.keys().hasElevenLabsKey());
        QVERIFY(!model.running() && !model.meetingActive());
        QCOMPARE(model.phase(), Engine::Phase::stopped);
        QVERIFY(model.panelVisible() && !model.maximized() && model.expanded() && !model.hovering());
        QCOMPARE(model.panelWidth, 680.0);
        QCOMPARE(model.statusNote(), std::nullopt);
        QCOMPARE(model.transcript().directory(), rig.recordsFolder());
        QCOMPARE(model.platform().recordsFolder(), rig.recordsFolder());
        rig.now = 4321.5;
        QCOMPARE(model.translator().clock(), 4321.5);
    }

    void statusLine_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("active");
        QTest::addColumn<bool>("lines");
        QTest::addColumn<QStringList>("texts"); // recognition, route, translation, notice; "" = none
        QTest::addColumn<QString>("expected");  // "<none>" for none
        QTest::newRow("idle") << false << false << false << QStringList {"", "", "", ""} << "<none>";
        QTest::newRow("running, only a notice") << true << true << false << QStringList {"", "", "", "N"} << "<none>";
        QTest::newRow("running, all troubles") << true << true << false << QStringList {"R", "T", "X", "N"} << "R";
        QTest::newRow("running, route then translation") << true << true << false << QStringList {"", "T", "X", ""} << "T";
        QTest::newRow("running, translation") << true << true << false << QStringList {"", "", "X", ""} << "X";
        QTest::newRow("paused with a reason") << false << true << true << QStringList {"R", "", "", "N"} << "N";
        QTest::newRow("paused") << false << true << true << QStringList {"R", "T", "X", ""} << "已暂停";
        QTest::newRow("ended") << false << false << true << QStringList {"", "", "", ""} << "会议已结束";
    }
    void statusLine()
    {
        QFETCH(bool, running);
        QFETCH(bool, active);
        QFETCH(bool, lines);
        QFETCH(QStringList, texts);
        QFETCH(QString, expected);
        ModelRig rig;
        AppModel &model = rig.make();
        const auto text = [](const QString &t) { return t.isEmpty() ? std::nullopt : std::optional<QString>(t); };
        QSignalSpy spy(&model, &AppModel::statusNoteChanged);
        model.setRecognitionTrouble(text(texts[0]));
        model.setTranslationRouteNote(text(texts[1]));
        model.setTranslationTrouble(text(texts[2]));
        model.setNotice(text(texts[3]));
        model.setMeetingActiveState(active);
        model.setRunningState(running);
        if (lines)
            rig.setLines({line(0, QStringLiteral("hi"))});
        QVERIFY(spy.count() >= 3);
        QCOMPARE(model.statusNote().value_or(QStringLiteral("<none>")), expected);
        model.setRunningState(false);
    }

    void translationStatusTexts()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QSignalSpy last(&model, &AppModel::lastTranslationChanged);
        QSignalSpy trouble(&model, &AppModel::translationTroubleChanged);

        model.noteTranslationResult(TranslationService::deepSeek, std::nullopt);
        model.noteTranslationResult(TranslationService::deepSeek, std::nullopt);
        QCOMPARE(model.lastTranslation(),
                 std::optional<QString>(QStringLiteral("最近一次翻译：DeepSeek（127.0.0.1）· 成功 · 09:30:15")));
        QCOMPARE(last.count(), 1);
        QCOMPARE(trouble.count(), 0);

        model.noteTranslationResult(TranslationService::deepSeek, QStringLiteral("服务繁忙"));
        model.noteTranslationResult(TranslationService::deepSeek, QStringLiteral("服务繁忙"));
        QCOMPARE(model.lastTranslation(),
                 std::optional<QString>(QStringLiteral("最近一次翻译：DeepSeek（127.0.0.1）· 失败：服务繁忙 · 09:30:15")));
        QCOMPARE(model.translationTrouble(),
                 std::optional<QString>(QStringLiteral("翻译出错（DeepSeek：服务繁忙），正在重试")));
        QCOMPARE(last.count(), 2);
        QCOMPARE(trouble.count(), 1);

        rig.wallNow = rig.wallNow.addSecs(1);
        model.noteTranslationResult(TranslationService::deepSeek, std::nullopt);
        QCOMPARE(model.translationTrouble(), std::nullopt);
        QCOMPARE(trouble.count(), 2);
        QVERIFY(model.lastTranslation()->endsWith(QStringLiteral("成功 · 09:30:16")));

        // The listener the model hands its calls reaches the model; the production address
        // names its host.
        DeepSeekTransport::baseAddress = QUrl(QStringLiteral("https://api.deepseek.com"));
        model.transportListener().result(TranslationService::deepSeek, std::nullopt);
        QCOMPARE(model.lastTranslation(),
                 std::optional<QString>(QStringLiteral("最近一次翻译：DeepSeek（api.deepseek.com）· 成功 · 09:30:16")));
    }

    // Engine callbacks come from the engine's queue; the model handles them on its own thread.
    void engineCallbacksFromAnotherThread()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QList<QThread *> threads;
        connect(&model, &AppModel::phaseChanged, &model, [&] { threads << QThread::currentThread(); });
        connect(&model, &AppModel::billedSecondsChanged, &model, [&] { threads << QThread::currentThread(); });
        QSignalSpy trouble(&model, &AppModel::recognitionTroubleChanged);
        Engine::Callbacks &callbacks = model.engine().callbacks;
        std::thread worker([&] {
            callbacks.phase(Engine::Phase::recognizing);
            callbacks.billedSeconds(3);
            callbacks.connection(QStringLiteral("连接断开，正在重连…"));
            callbacks.connection(QStringLiteral("连接断开，正在重连…"));
        });
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(trouble.count(), 1, 10000);
        QCOMPARE(model.phase(), Engine::Phase::recognizing);
        QCOMPARE(model.billedSeconds(), 3.0);
        QCOMPARE(model.recognitionTrouble(), std::optional<QString>(QStringLiteral("连接断开，正在重连…")));
        QCOMPARE(threads, (QList<QThread *> {QThread::currentThread(), QThread::currentThread()}));
        // Everything posted before this marker has been handled once it runs.
        bool marker = false;
        QMetaObject::invokeMethod(&model, [&marker] { marker = true; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(marker, 10000);
        QCOMPARE(trouble.count(), 1);
    }

    void translatorContext()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        SessionNote note;
        note.id = 1;
        note.text = QStringLiteral("Speaker: Ada Lovelace");
        note.extracted.title = QStringLiteral("Engines");
        note.extracted.names = {QStringLiteral("Ada Lovelace")};
        model.setNotes({note});
        model.setRecap(QStringLiteral("讲了分析机。"));
        const QString stable = model.translator().stableMemory();
        QVERIFY2(stable.contains(QStringLiteral(
                     "\n\n【前情提要】本场会议到目前为止讲了这些（只供理解上下文、统一译法，不要翻译它）：\n讲了分析机。")),
                 qPrintable(stable));
        QVERIFY(stable.endsWith(QStringLiteral("讲了分析机。")));
        QVERIFY(stable.startsWith(model.background().stableBlock()));
        const QString sentence = QStringLiteral("Ada Lovelace wrote the first program");
        QCOMPARE(model.translator().memory(sentence), stable + model.background().sentenceBlock(sentence));
        QCOMPARE(model.translator().sentenceHints(sentence), model.background().sentenceBlock(sentence));

        model.setRecap(QString());
        QVERIFY(!model.translator().stableMemory().contains(QStringLiteral("【前情提要】")));

        // Gone with the model: the providers answer nothing.
        const auto memory = model.translator().memory;
        const auto stableMemory = model.translator().stableMemory;
        rig.destroyModel();
        QCOMPARE(memory(sentence), QString());
        QCOMPARE(stableMemory(), QString());
    }

    void backgroundJoinsNotesAndResearch()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        SessionNote note;
        note.extracted.names = {QStringLiteral("Ada Lovelace")};
        note.extracted.terms = {GlossaryEntry(QStringLiteral("engine"), QStringLiteral("引擎"))};
        model.setNotes({note});
        ResearchResult found;
        found.domain = QStringLiteral("计算史");
        found.names = {QStringLiteral("ada lovelace"), QStringLiteral("Charles Babbage"), QStringLiteral("charles babbage")};
        found.terms = {GlossaryEntry(QStringLiteral("Engine"), QStringLiteral("机")),
                       GlossaryEntry(QStringLiteral("loom"), QStringLiteral("织机"))};
        model.setResearch(found);
        const SessionBackground background = model.background();
        QCOMPARE(background.names, (QStringList {"Ada Lovelace", "Charles Babbage"}));
        QCOMPARE(background.terms.size(), 2);
        QCOMPARE(background.terms[0].chinese, QStringLiteral("引擎"));
        QCOMPARE(background.terms[1].english, QStringLiteral("loom"));
        QCOMPARE(background.title, QStringLiteral("计算史"));
        note.extracted.title = QStringLiteral("Engines");
        model.setNotes({note});
        QCOMPARE(model.background().title, QStringLiteral("Engines"));
    }

    void routingHooks()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QVERIFY(!TranslationRouting::hasKey(TranslationService::deepSeek));
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-1"));
        QVERIFY(TranslationRouting::hasKey(TranslationService::deepSeek));
        // A copy, as every call the model makes holds one.
        const DeepSeekTransport::Listener listener = model.transportListener();
        listener.request();
        listener.request();
        listener.failover();
        listener.usage(-5, 70, 12);
        listener.usage(10, -1, -3);
        QCOMPARE(model.stats().requests, 2);
        QCOMPARE(model.stats().failovers, 1);
        QCOMPARE(model.stats().promptTokens, 10);
        QCOMPARE(model.stats().completionTokens, 70);
        QCOMPARE(model.stats().cachedTokens, 12);
        QSignalSpy route(&model, &AppModel::translationRouteNoteChanged);
        listener.routeChanged(QStringLiteral("改走备用线路"));
        QCOMPARE(model.translationRouteNote(), std::optional<QString>(QStringLiteral("改走备用线路")));
        QCOMPARE(route.count(), 1);

        // With the model gone its calls' hooks do nothing: nothing reaches the next meeting
        // model, made before or after they report.
        rig.destroyModel();
        listener.request();
        AppModel &next = rig.make();
        listener.usage(1, 1, 1);
        listener.routeChanged(QStringLiteral("改走主线路"));
        listener.result(TranslationService::deepSeek, std::nullopt);
        QCOMPARE(next.stats().requests, 0);
        QCOMPARE(next.stats().promptTokens, 0);
        QCOMPARE(next.translationRouteNote(), std::nullopt);
        QCOMPARE(next.lastTranslation(), std::nullopt);
    }

    // The main-thread delays the app runs with (tests hand shorter ones to their model).
    void delayDefaults()
    {
        const AppModel::Timings timings = AppModel::Platform().timings;
        QCOMPARE(timings.saveDelay, 1.0);
        QCOMPARE(timings.keySwitchNoticeDelay, 15.0);
        QCOMPARE(timings.settlePolls, 30);
    }

    void diagnosticEvents()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        rig.now = 1012.5;
        model.log(QStringLiteral("txt"), {{QStringLiteral("text"), QStringLiteral("hello")}});
        QCOMPARE(model.diag().events().size(), 1);
        // No meeting has begun: the log's times count from zero.
        QCOMPARE(model.diag().events()[0].t, 1012.5);
        QCOMPARE(model.diag().events()[0].kind, QStringLiteral("txt"));
        QCOMPARE(model.diag().events()[0].fields.value(QStringLiteral("text")), QStringLiteral("hello"));
        model.setDiagnosticsEnabled(false);
        model.log(QStringLiteral("txt"), {});
        QCOMPARE(model.diag().events().size(), 1);
    }
};

DODEDAROV_TEST(AppModelStateTest)
#include "AppModelStateTest.moc"
