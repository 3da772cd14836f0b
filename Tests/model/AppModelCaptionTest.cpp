#include "TestMain.h"

#include "common/Clock.h"
#include "model/HistoryText.h"
#include "fakes/ManualDeepSeekServer.h"
#include "fakes/ModelRig.h"
#include "captions/ChineseScript.h"
#include "speech/Engine.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"
#include "platform/Keychain.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <thread>

namespace {

CaptionLine makeLine(int id, const QString &english, const QString &chinese = {}, bool finished = true)
{
    CaptionLine l;
    l.id = id;
    l.english = english;
    l.chinese = chinese;
    l.finished = finished;
    l.time = QDateTime(QDate(2026, 5, 4), QTime(9, 0, id % 60));
    return l;
}

QString rowsText(const AppModel &model)
{
    return model.layout().rows.join(u'|');
}

std::optional<DiagnosticEvent> lastEvent(const AppModel &model, const QString &kind)
{
    const QList<DiagnosticEvent> events = model.diag().events();
    for (qsizetype i = events.size() - 1; i >= 0; --i)
        if (events.at(i).kind == kind)
            return events.at(i);
    return std::nullopt;
}

// A model whose background questions go to a server that holds every answer open, so a test
// delivers the answers itself, in the order it wants.
struct AskingRig {
    ModelRig rig;
    ManualDeepSeekServer server;
    AppModel *model = nullptr;

    AskingRig()
    {
        if (!server.listen())
            qFatal("cannot listen on loopback");
        DeepSeekTransport::baseAddress = server.baseUrl();
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test-key-0001"));
        model = &rig.make();
    }
};

} // namespace

// The caption flow of the meeting model: recognition events, the translator's handlers, the
// re-asks and their answers, caption units, live rows and record saves.
class AppModelCaptionTest final : public QObject {
    Q_OBJECT

private slots:
    void beginNeverMarksLineZeroAsATurn()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QCOMPARE(model.begin(QStringLiteral("Hello there."), true), 0);
        QCOMPARE(model.begin(QStringLiteral("Next speaker."), true), 1);
        QVERIFY(!model.lines().at(0).newTurn);
        QVERIFY(model.lines().at(1).newTurn);
        QCOMPARE(model.lines().at(0).time, rig.wallNow);
        QCOMPARE(model.lines().at(1).pieces, 1);
    }

    void handlersIgnoreUnknownLines()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.begin(QStringLiteral("one"), false);
        const QList<CaptionLine> before = model.lines();
        for (int id : {-1, 1, 1000}) {
            model.append(id, QStringLiteral("x"));
            model.finish(id, true);
            model.continueLine(id, QStringLiteral("x"));
            model.corrected(id, QStringLiteral("x"));
            model.backfillDone(id, QStringLiteral("x"));
            model.language(id, SpeechLanguage::other);
            model.alternate(id, QStringLiteral("x"));
            model.rechecked(id, QStringLiteral("x"), QStringLiteral("x"), {});
            model.refixed(id, QStringLiteral("x"), QStringLiteral("x"), {});
            model.merged({0, id}, QStringLiteral("one x"), QStringLiteral("x"), QStringLiteral("x"), {});
        }
        model.flushDeltas();
        QCOMPARE(model.lines(), before);
        QVERIFY(!model.savePending());
    }

    void flushAppliesPiecesInIdOrder()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        for (int i = 0; i < 4; ++i)
            model.begin(QStringLiteral("line %1").arg(i), false);
        model.append(3, QStringLiteral("丙"));
        model.append(1, QStringLiteral("甲"));
        model.flushDeltas();
        QCOMPARE(model.lines().at(1).chinese, QStringLiteral("甲"));
        QCOMPARE(model.lines().at(3).chinese, QStringLiteral("丙"));
        const QString shown = rowsText(model);
        QVERIFY(shown.indexOf(u'甲') >= 0 && shown.indexOf(u'甲') < shown.indexOf(u'丙'));
    }

    // Many pieces before the event loop runs reach the lines in one flush and one row update.
    void streamedPiecesAreBatched()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.begin(QStringLiteral("A long sentence"), false);
        QSignalSpy lines(&model, &AppModel::linesChanged);
        QSignalSpy rows(&model, &AppModel::rowsChanged);
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 100; ++i)
                model.append(0, QStringLiteral("字"));
            QCOMPARE(lines.count(), round);
            QTRY_COMPARE_WITH_TIMEOUT(lines.count(), round + 1, 10000);
            QCOMPARE(model.lines().at(0).chinese.size(), 100 * (round + 1));
        }
        QVERIFY(rows.count() <= 3);
        QVERIFY(rows.count() >= 1);
    }

    void continuationSpacing_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("piece");
        QTest::addColumn<QString>("expected");
        QTest::newRow("letter after letter") << "We agreed" << "then left" << "We agreed then left";
        QTest::newRow("after a Chinese character") << "我们同意" << "然后" << "我们同意然后";
        QTest::newRow("letter after a Chinese character") << "我们" << "OK" << "我们OK";
    }

    void continuationSpacing()
    {
        QFETCH(QString, shown);
        QFETCH(QString, piece);
        QFETCH(QString, expected);
        ModelRig rig;
        AppModel &model = rig.make();
        model.begin(QStringLiteral("first"), false);
        model.append(0, shown);
        model.finish(0, true);
        model.continueLine(0, QStringLiteral("second"));
        QCOMPARE(model.lines().at(0).english, QStringLiteral("first second"));
        QVERIFY(!model.lines().at(0).finished);
        QCOMPARE(model.lines().at(0).pieces, 2);
        model.append(0, piece);
        model.flushDeltas();
        QCOMPARE(model.lines().at(0).chinese, expected);
        // Only the first piece of the continuation is joined.
        model.append(0, QStringLiteral("x"));
        model.flushDeltas();
        QCOMPARE(model.lines().at(0).chinese, expected + QStringLiteral("x"));
    }

    void failedLineShowsItsSource()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.begin(QStringLiteral("Nobody translated this"), false);
        model.finish(0, false);
        QVERIFY(model.lines().at(0).finished);
        QVERIFY(model.lines().at(0).failed);
        QVERIFY(rowsText(model).contains(QStringLiteral("Nobody translated this")));
        const std::optional<DiagnosticEvent> event = lastEvent(model, QStringLiteral("translated"));
        QVERIFY(event);
        QCOMPARE(event->fields.value(QStringLiteral("success")), QStringLiteral("0"));
        QCOMPARE(event->fields.value(QStringLiteral("text")), QStringLiteral("Nobody translated this"));
        QVERIFY(model.savePending());
    }

    void joinEnglish_data()
    {
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<QString>("expected");
        QTest::newRow("lead word lower-cased") << "We met" << "Then we left" << "We met then we left";
        QTest::newRow("after a full stop") << "We met." << "Then we left" << "We met. Then we left";
        QTest::newRow("after a question mark and blanks") << "Why? " << "And so" << "Why? And so";
        QTest::newRow("not a lead word") << "We met" << "Everyone left" << "We met Everyone left";
        QTest::newRow("case is exact") << "We met" << "THEN we left" << "We met THEN we left";
        QTest::newRow("empty start") << "" << "The end" << "The end";
        QTest::newRow("blank start") << "  " << "The end" << "  The end";
    }

    void joinEnglish()
    {
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(QString, expected);
        QCOMPARE(AppModel::joinEnglish(a, b), expected);
    }

    void alternateJoinsOnlyAContinuation()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.begin(QStringLiteral("Hola a todos"), false);
        model.alternate(0, QStringLiteral("Hello everyone"));
        model.alternate(0, QStringLiteral("Hi all"));
        QCOMPARE(model.lines().at(0).alt, QStringLiteral("Hi all"));
        model.continueLine(0, QStringLiteral("y luego"));
        model.alternate(0, QStringLiteral("Then we go"));
        QCOMPARE(model.lines().at(0).alt, QStringLiteral("Hi all then we go"));
    }

    void fatalAndBackfill()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.setMode(DisplayMode::english);
        model.setBackfillPending({1});
        model.fatal(QStringLiteral("没有密钥"));
        QVERIFY(model.backfillPending().isEmpty());
        QVERIFY(!model.notice());
        QVERIFY(!model.running());
        model.setMode(DisplayMode::both);
        model.fatal(QStringLiteral("没有密钥"));
        QCOMPARE(model.notice(), AppModel::OptionalText(QStringLiteral("没有密钥")));

        model.begin(QStringLiteral("one"), false);
        model.append(0, QStringLiteral("一"));
        model.finish(0, true);
        model.backfillDone(0, QStringLiteral("别的"));
        QCOMPARE(model.lines().at(0).chinese, QStringLiteral("一"));
        model.begin(QStringLiteral("two"), false);
        model.finish(1, false);
        model.setBackfillPending({1});
        model.backfillDone(1, QStringLiteral("二"));
        QCOMPARE(model.lines().at(1).chinese, QStringLiteral("二"));
        QVERIFY(!model.lines().at(1).failed);
        QVERIFY(model.backfillPending().isEmpty());
    }

    // An answer to a question about a line that grew meanwhile is dropped; the same answer for
    // an unchanged line applies.
    void staleAnswers_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("grown");
        for (const char *kind : {"short", "recheck", "merge"}) {
            QTest::newRow(qPrintable(QStringLiteral("%1, unchanged").arg(kind))) << QString::fromLatin1(kind) << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, grown").arg(kind))) << QString::fromLatin1(kind) << true;
        }
    }

    void staleAnswers()
    {
        QFETCH(QString, kind);
        QFETCH(bool, grown);
        AskingRig r;
        AppModel &model = *r.model;
        if (kind == u"short") {
            model.begin(QStringLiteral("We will review every single part of the plan with the team tomorrow"), false);
            model.language(0, SpeechLanguage::english);
            model.append(0, QStringLiteral("明天"));
            model.finish(0, true);
            QVERIFY(model.shortRetried().contains(0));
            QTRY_VERIFY_WITH_TIMEOUT(r.server.count() >= 1, 10000);
            if (grown)
                model.continueLine(0, QStringLiteral("and the budget"));
            const QString answer = QStringLiteral("明天我们会和团队一起审查计划的每一个部分");
            model.refixed(0, QStringLiteral("We will review every single part of the plan with the team tomorrow"),
                          answer, {});
            QCOMPARE(model.lines().at(0).chinese == answer, !grown);
            QCOMPARE(model.lines().at(0).fixed.isEmpty(), grown);
        } else if (kind == u"recheck") {
            model.begin(QStringLiteral("We sold 300 units in 2024."), false);
            model.language(0, SpeechLanguage::english);
            model.append(0, QStringLiteral("我们卖了很多台。"));
            model.finish(0, true);
            QCOMPARE(model.stats().numberRechecks, 1);
            QTRY_VERIFY_WITH_TIMEOUT(r.server.count() >= 1, 10000);
            if (grown)
                model.continueLine(0, QStringLiteral("Sales doubled"));
            model.rechecked(0, QStringLiteral("We sold 300 units in 2024."), QStringLiteral("我们在2024年卖了300台。"), {});
            QCOMPARE(model.lines().at(0).revised.has_value(), !grown);
        } else {
            model.begin(QStringLiteral("so what we decided"), false);
            model.language(0, SpeechLanguage::english);
            model.append(0, QStringLiteral("所以我们决定"));
            model.finish(0, true);
            model.begin(QStringLiteral("is to wait."), false);
            model.language(1, SpeechLanguage::english);
            model.append(1, QStringLiteral("是等待。"));
            model.finish(1, true);
            model.maybeMergeSentences(true);
            QCOMPARE(model.stats().sentenceMerges, 1);
            if (grown)
                model.continueLine(1, QStringLiteral("for now"));
            model.merged({0, 1}, QStringLiteral("so what we decided is to wait."),
                         QStringLiteral("so what we decided is to wait."), QStringLiteral("所以我们决定等待。"), {});
            QCOMPARE(model.lines().at(0).revised.has_value(), !grown);
            QCOMPARE(model.lines().at(1).merged, !grown);
        }
    }

    // A line whose translation lost its numbers is re-checked through the translator; the
    // answer becomes the line's revision. When a second part of the speech continues the line
    // while the re-check is out, the answer covers only the text that was sent, so it is
    // dropped, even though it carries every number of the grown line.
    void recheckThroughTheTranslator_data()
    {
        QTest::addColumn<bool>("grows");
        QTest::newRow("line unchanged") << false;
        QTest::newRow("line grew meanwhile") << true;
    }

    void recheckThroughTheTranslator()
    {
        QFETCH(bool, grows);
        AskingRig r;
        AppModel &model = *r.model;
        // The request that holds the text in one of its messages, once it has come.
        const auto request = [&r](const QString &text) {
            for (int i = 0; i < r.server.count(); ++i)
                if (QString::fromUtf8(QJsonDocument(r.server.at(i).json).toJson()).contains(text))
                    return i;
            return -1;
        };
        // Half a sentence goes to translation after a quiet moment, and stays open for more.
        const QString first = QStringLiteral("We sold 300 units in 2024");
        model.handleCommitted(first);
        r.rig.now += 3.0;
        r.rig.tick();
        QTRY_VERIFY_WITH_TIMEOUT(request(first) >= 0, 10000);
        r.server.reply(request(first), {QStringLiteral("我们卖了很多台")});
        const QString numbersHint = QStringLiteral("原文里的每个数字");
        QTRY_VERIFY_WITH_TIMEOUT(request(numbersHint) >= 0, 10000);
        QCOMPARE(model.stats().numberRechecks, 1);
        const int recheck = request(numbersHint);
        QVERIFY(r.server.at(recheck).lastUser().contains(first));

        if (grows) {
            const QString rest = QStringLiteral("and the margin grew.");
            model.handleCommitted(rest);
            QTRY_VERIFY_WITH_TIMEOUT(request(rest) >= 0, 10000);
            r.server.reply(request(rest), {QStringLiteral("，利润率也提高了。")});
            QTRY_VERIFY_WITH_TIMEOUT(model.lines().at(0).finished, 10000);
            QCOMPARE(model.lines().size(), 1);
            QCOMPARE(model.lines().at(0).english, first + u' ' + rest);
        }
        const QString answer = grows ? QStringLiteral("我们在2024年卖了300台，利润率也提高了。")
                                     : QStringLiteral("我们在2024年卖了300台");
        r.server.reply(recheck, {answer});
        QTRY_VERIFY_WITH_TIMEOUT(model.translator().backfillInFlight().isEmpty(), 10000);
        QCoreApplication::processEvents();
        const std::optional<CaptionLine::Revision> revised = model.lines().at(0).revised;
        if (grows) {
            QVERIFY2(!revised, qPrintable(QStringLiteral("the grown line was revised as: ")
                                          + revised.value_or(CaptionLine::Revision {}).translation));
            QCOMPARE(model.lines().at(0).chinese, QStringLiteral("我们卖了很多台，利润率也提高了。"));
        } else {
            QVERIFY(revised);
            QCOMPARE(*revised, (CaptionLine::Revision {first, answer, QString()}));
            QCOMPARE(model.lines().at(0).chinese, QStringLiteral("我们卖了很多台"));
        }
    }

    // A short re-ask is on its way when the line grows into a whole sentence; the whole-sentence
    // question is left out (the line has a job), and the old short answer must not pass as one.
    void shortAnswerAfterTheLineGrew()
    {
        AskingRig r;
        AppModel &model = *r.model;
        const QString first = QStringLiteral("We will review every single part of the plan with the team tomorrow");
        model.begin(first, false);
        model.language(0, SpeechLanguage::english);
        model.append(0, QStringLiteral("明天"));
        model.finish(0, true);
        QVERIFY(model.shortRetried().contains(0));
        QTRY_VERIFY_WITH_TIMEOUT(r.server.count() >= 1, 10000);
        QVERIFY(r.server.at(0).lastUser().contains(first));
        model.continueLine(0, QStringLiteral("and the budget."));
        model.append(0, QStringLiteral("和预算。"));
        model.finish(0, true);
        QCOMPARE(model.smoothing().value(0), model.lines().at(0).english);
        const QString grown = model.lines().at(0).chinese;

        r.server.reply(0, {QStringLiteral("明天我们会和团队一起审查计划的每一个部分")});
        QTRY_VERIFY_WITH_TIMEOUT(model.translator().backfillInFlight().isEmpty(), 10000);
        QCoreApplication::processEvents();
        QCOMPARE(model.lines().at(0).chinese, grown);
    }

    // A line's latency is filed under that line, also when a later line exists already, and
    // runs from the end of the speech (as the statistics' figure does), not from the caption.
    void lineLatency()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.begin(QStringLiteral("First line."), false);
        model.begin(QStringLiteral("Second line."), false);
        const double now = Clock::uptime();
        {
            QMutexLocker lock(&model.engine().timelineLock());
            model.engine().timeline().intervals = {{now - 6.0, now - 3.0}};
        }
        model.latency(0, 1.0, 0.5);
        // Where the diagnostics report reads it.
        const QMap<int, double> filed = model.diagnosticsSnapshot().latency;
        QVERIFY(!filed.contains(1));
        QVERIFY(filed.contains(0));
        QCOMPARE(model.stats().endToEnd.size(), 1);
        QCOMPARE(filed.value(0), model.stats().endToEnd.constFirst());
        QVERIFY(filed.value(0) > 2.5);
    }

    void reaskConditions()
    {
        AskingRig r;
        AppModel &model = *r.model;
        // One piece: never re-translated as a whole.
        model.begin(QStringLiteral("That is all."), false);
        model.append(0, QStringLiteral("就这些。"));
        model.finish(0, true);
        QVERIFY(model.smoothing().isEmpty());
        // Two pieces ending a sentence: once.
        model.begin(QStringLiteral("We start now"), false);
        model.append(1, QStringLiteral("我们"));
        model.finish(1, true);
        model.continueLine(1, QStringLiteral("and finish at noon."));
        model.append(1, QStringLiteral("中午结束。"));
        model.finish(1, true);
        QCOMPARE(model.smoothing().value(1), QStringLiteral("We start now and finish at noon."));
        QVERIFY(model.shortRetried().contains(1));
        // A Chinese line is never checked as short, and keeps its lead.
        model.begin(QStringLiteral("我们今天要讨论一下明年的预算和人员安排的问题"), false);
        model.language(2, SpeechLanguage::chinese);
        model.append(2, QStringLiteral("We"));
        model.finish(2, true);
        QVERIFY(!model.shortRetried().contains(2));

        // A whole-sentence answer for the unchanged line applies; once the line grew, an answer
        // for the source that was sent is dropped.
        const QString sent = QStringLiteral("We start now and finish at noon.");
        model.refixed(1, sent, QStringLiteral("我们现在开始，中午结束。"), {});
        QCOMPARE(model.lines().at(1).chinese, QStringLiteral("我们现在开始，中午结束。"));
        model.continueLine(1, QStringLiteral("Then lunch."));
        model.append(1, QStringLiteral("然后吃午饭。"));
        model.flushDeltas();
        const QString grown = model.lines().at(1).chinese;
        model.refixed(1, sent, QStringLiteral("我们现在开始，到中午结束。"), {});
        QCOMPARE(model.lines().at(1).chinese, grown);
        // A unit that does not end a sentence is not re-asked as a whole.
        model.begin(QStringLiteral("We go on"), false);
        model.append(3, QStringLiteral("我们"));
        model.finish(3, true);
        model.continueLine(3, QStringLiteral("with the plan and"));
        model.append(3, QStringLiteral("继续计划"));
        model.finish(3, true);
        QVERIFY(!model.smoothing().contains(3));
    }

    void refixedSpans_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QStringList>("fixed");
        QTest::newRow("short span added") << QStringLiteral("我们明天和团队审查计划") << QStringList {QStringLiteral("明天和团队审查计划")};
        QTest::newRow("span of 25 characters")
            << QStringLiteral("我们明天一二三四五六七八九十一二三四五六七八九十一二三四五")
            << QStringList {};
        QTest::newRow("span with an ellipsis") << QStringLiteral("我们明天……审查") << QStringList {};
        QTest::newRow("empty answer") << QString() << QStringList {};
    }

    void refixedSpans()
    {
        QFETCH(QString, answer);
        QFETCH(QStringList, fixed);
        ModelRig rig;
        AppModel &model = rig.make();
        model.begin(QStringLiteral("We review the plan tomorrow with the whole team."), false);
        model.append(0, QStringLiteral("我们明天"));
        model.flushDeltas();
        model.refixed(0, QStringLiteral("We review the plan tomorrow with the whole team."), answer, {});
        QCOMPARE(model.lines().at(0).fixed, fixed);
    }

    void recheckAnswers()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.begin(QStringLiteral("Revenue grew 12% to 40 million."), false);
        model.append(0, QStringLiteral("收入增长了。"));
        model.finish(0, true);
        const QString source = QStringLiteral("Revenue grew 12% to 40 million.");
        model.rechecked(0, source, QStringLiteral("收入增长了12%。"), {});
        QVERIFY(!model.lines().at(0).revised);
        model.rechecked(0, source, QStringLiteral("收入增长12%，达到4000万。"), {});
        QVERIFY(model.lines().at(0).revised);
        QCOMPARE(model.lines().at(0).chinese, QStringLiteral("收入增长了。"));
        const CaptionLine::Revision first = *model.lines().at(0).revised;
        model.rechecked(0, source, QStringLiteral("收入增长12%，达到四千万。"), {});
        QCOMPARE(*model.lines().at(0).revised, first);
    }

    void swallowedContext()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        rig.setLines({makeLine(0, QStringLiteral("First"), QStringLiteral("  第一句话在这里说得很长很长")),
                      makeLine(1, QStringLiteral("Short"), QStringLiteral("短句")),
                      makeLine(2, QStringLiteral("Third"), QStringLiteral("第三句"))});
        QVERIFY(model.swallowsContext(QStringLiteral("第一句话在这里说得很长很长，第三句"), 2));
        // Under six characters a head proves nothing.
        QVERIFY(!model.swallowsContext(QStringLiteral("短句第三句"), 2));
        QVERIFY(!model.swallowsContext(QStringLiteral("第一句话在这里说得很长很长"), 3));
        model.merged({1, 2}, QStringLiteral("Short Third"), QStringLiteral("Short Third"),
                     QStringLiteral("第一句话在这里说得很长很长"), {});
        QVERIFY(!model.lines().at(1).revised);
    }

    void mergedAlternates()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QList<CaptionLine> lines {makeLine(0, QStringLiteral("uno"), QStringLiteral("一")),
                                  makeLine(1, QStringLiteral("dos"), QStringLiteral("二")),
                                  makeLine(2, QStringLiteral("tres"), QStringLiteral("三"))};
        lines[0].alt = QStringLiteral("one");
        lines[1].alt = QStringLiteral("two");
        lines[2].alt = QStringLiteral("“three”");
        rig.setLines(lines);
        model.merged({0, 1, 2}, QStringLiteral("uno dos tres"), QStringLiteral("uno dos tres"),
                     QStringLiteral("一二三"), {});
        QVERIFY(model.lines().at(0).revised);
        QCOMPARE(model.lines().at(0).revised->alt, QStringLiteral("one two“three”"));
        QVERIFY(model.lines().at(1).merged && model.lines().at(2).merged);
        // A merge answer naming a line merged meanwhile changes nothing.
        const QList<CaptionLine> after = model.lines();
        model.merged({1, 2}, QStringLiteral("dos tres"), QStringLiteral("dos tres"), QStringLiteral("二三"), {});
        QCOMPARE(model.lines(), after);
    }

    void turns_data()
    {
        QTest::addColumn<QString>("previous");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("start of meeting") << QString() << true;
        QTest::newRow("after a full stop") << QStringLiteral("That is the plan.") << true;
        QTest::newRow("after and") << QStringLiteral("We went there and") << false;
    }

    void turns()
    {
        QFETCH(QString, previous);
        QFETCH(bool, accepted);
        ModelRig rig;
        AppModel &model = rig.make();
        if (!previous.isEmpty())
            model.apply({CaptionPipeline::Output::translate(previous)});
        model.apply({CaptionPipeline::Output::turn()});
        QCOMPARE(model.turnCount(), accepted ? 1 : 0);
        if (!accepted)
            QCOMPARE(lastEvent(model, QStringLiteral("turn_ignored"))->fields.value(QStringLiteral("text")),
                     QStringLiteral("上一段没说完：") + previous);
        // The next unit opens the turn only when it was accepted.
        model.apply({CaptionPipeline::Output::translate(QStringLiteral("Next we look at the budget."))});
        QCOMPARE(lastEvent(model, QStringLiteral("unit"))->fields.value(QStringLiteral("turn")),
                 accepted ? QStringLiteral("1") : QStringLiteral("0"));
    }

    void unitLanguage_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("sinceOther");
        QTest::addColumn<int>("expected");
        const QString twelve = QStringLiteral("東京大学研究所長会議資料確認");
        QTest::newRow("12 CJK soon after other") << twelve.left(12) << 10.0 << int(SpeechLanguage::other);
        QTest::newRow("with a function character") << twelve.left(11) + QStringLiteral("的") << 10.0
                                                    << int(SpeechLanguage::chinese);
        QTest::newRow("13 CJK soon after other") << twelve.left(13) << 10.0 << int(SpeechLanguage::chinese);
        QTest::newRow("12 CJK after 30 s") << twelve.left(12) << 30.0 << int(SpeechLanguage::chinese);
        QTest::newRow("English") << QStringLiteral("hello there") << 1.0 << int(SpeechLanguage::english);
    }

    void unitLanguage()
    {
        QFETCH(QString, text);
        QFETCH(double, sinceOther);
        QFETCH(int, expected);
        ModelRig rig;
        AppModel &model = rig.make();
        QCOMPARE(int(model.unitLanguage(QStringLiteral("これは日本語のテストです"))), int(SpeechLanguage::other));
        rig.now += sinceOther;
        QCOMPARE(int(model.unitLanguage(text)), expected);
    }

    // Without a translation key every unit still becomes a source line: in the rows, the
    // history and the saved record, whatever the fatal report does afterwards.
    void unitsWithoutKeyBecomeSourceLines()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.transcript().begin(rig.wallNow);
        const QStringList units {QStringLiteral("The first point is the budget."),
                                 QStringLiteral("The second point is the schedule."),
                                 QStringLiteral("我们下周再讨论人员的问题。")};
        QList<CaptionPipeline::Output> outputs;
        for (const QString &unit : units)
            outputs.append(CaptionPipeline::Output::translate(unit));
        model.apply(outputs);
        QCOMPARE(model.lines().size(), units.size());
        QVERIFY(model.notice());
        const QList<HistoryText::Paragraph> history =
            HistoryText::allParagraphs(model.lines(), model.mode(), model.backfillPending(), {}, false);
        for (int i = 0; i < units.size(); ++i) {
            const CaptionLine &line = model.lines().at(i);
            QCOMPARE(line.english, units.at(i));
            QVERIFY(line.finished && line.failed && line.chinese.isEmpty());
            QVERIFY(rowsText(model).remove(u'|').contains(units.at(i).left(8)));
            QCOMPARE(history.at(i).primary, units.at(i));
        }
        model.saveTranscript(true);
        const QString path = *model.transcript().fileURL();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(path), 10000);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        for (const QString &unit : units)
            QVERIFY2(text.contains(unit), qPrintable(text));
    }

    void echoesAndModes()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        const QString unit = QStringLiteral("we are going to the market today");
        model.apply({CaptionPipeline::Output::translate(unit)});
        model.apply({CaptionPipeline::Output::translate(unit)});
        QCOMPARE(model.lines().size(), 1);
        rig.now += 8.5;
        model.apply({CaptionPipeline::Output::translate(unit)});
        QCOMPARE(model.lines().size(), 2);
        // Only fillers: dropped, and the last unit stays.
        model.apply({CaptionPipeline::Output::translate(QStringLiteral("um uh"))});
        QCOMPARE(model.lines().size(), 2);
        // The unit before the fillers is still the one an echo is compared with.
        model.apply({CaptionPipeline::Output::translate(unit)});
        QCOMPARE(model.lines().size(), 2);

        model.setMode(DisplayMode::chinese);
        model.setNotice(std::nullopt);
        model.apply({CaptionPipeline::Output::translate(QStringLiteral("我们下周再讨论这个问题。"))});
        QCOMPARE(model.lines().size(), 3);
        QVERIFY(model.lines().at(2).finished);
        QVERIFY(!model.lines().at(2).failed);
        QVERIFY(!model.notice()); // nothing was sent for translation
    }

    void englishParagraphBreaks()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QStringList words;
        for (int i = 0; i < 30; ++i)
            words << QStringLiteral("word%1").arg(i);
        const QString text = words.mid(0, 25).join(u' ') + QStringLiteral(". ") + words.mid(25).join(u' ');
        model.appendEnglish(text);
        QCOMPARE(model.lines().size(), 2);
        QVERIFY(model.lines().at(0).finished);
        QVERIFY(model.lines().at(0).english.endsWith(QStringLiteral("word24.")));
        QVERIFY(!model.lines().at(1).finished);
        // The second line stays open: more text goes on it.
        model.appendEnglish(QStringLiteral("more"));
        QCOMPARE(model.lines().size(), 2);
        QVERIFY(model.lines().at(1).english.endsWith(QStringLiteral("word29 more")));
        model.closeEnglishLine();
        QVERIFY(model.lines().at(1).finished);
        // Once closed, the next text starts a line of its own.
        model.appendEnglish(QStringLiteral("again"));
        QCOMPARE(model.lines().size(), 3);
        QCOMPARE(model.lines().at(2).english, QStringLiteral("again"));
    }

    void recognitionEvents()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.handlePartial(QStringLiteral("hello"), std::nullopt);
        QCOMPARE(model.lastSpeechChange(), rig.now);
        QCOMPARE(model.partial(), QStringLiteral("hello"));
        rig.now += 1;
        model.handlePartial(QStringLiteral("hello"), std::nullopt);
        QCOMPARE(model.lastSpeechChange(), rig.now - 1);
        model.handleCommitted(QStringLiteral("hello"));
        QCOMPARE(model.lastSpeechChange(), rig.now - 1);
        rig.now += 1;
        model.handleCommitted(QStringLiteral("again"));
        QCOMPARE(model.lastSpeechChange(), rig.now);
        model.setMode(DisplayMode::english);
        model.handlePartial(QStringLiteral("more"), std::nullopt);
        QCOMPARE(model.partial(), QString());

        model.handleStopped(std::nullopt);
        QCOMPARE(lastEvent(model, QStringLiteral("stopped"))->fields.value(QStringLiteral("reason")),
                 QStringLiteral("暂停"));
        QVERIFY(!model.notice());
        QVERIFY(!model.running());
    }

    // The engine reports on its own queue; the model acts on the main thread.
    void callbacksFromAnotherThread()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QThread *main = QThread::currentThread();
        QThread *seen = nullptr;
        QObject::connect(&model, &AppModel::partialChanged, &model, [&] { seen = QThread::currentThread(); },
                         Qt::DirectConnection);
        std::thread worker([&] {
            model.engine().callbacks.partial(QStringLiteral("hello there"), std::nullopt);
            model.engine().callbacks.committed(QStringLiteral("hello there."));
            model.engine().callbacks.stopped(QStringLiteral("电脑进入睡眠，已自动暂停。"));
        });
        worker.join();
        QTRY_COMPARE_WITH_TIMEOUT(model.notice(), AppModel::OptionalText(QStringLiteral("电脑进入睡眠，已自动暂停。")), 10000);
        QCOMPARE(seen, main);
        QVERIFY(model.partial().isEmpty());
        QVERIFY(lastEvent(model, QStringLiteral("txt")));
    }

    void afterStopSuppressesTheKeySwitch()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::elevenLabsListAccount, QStringLiteral("[\"key-one-aaaaaaa\",\"key-two-bbbbbbb\"]"));
        ModelRig::storeKey(Keychain::elevenLabsAccount, QStringLiteral("key-one-aaaaaaa"));
        // Short enough to see the switch's notice go; the first stop switches no key at all.
        rig.platform.timings.keySwitchNoticeDelay = 0.05;
        AppModel &model = rig.make();
        const QString reason = QStringLiteral("ElevenLabs 额度用完了");
        int ran = 0;
        model.setAfterStop([&] { ++ran; });
        model.handleStopped(reason);
        QCOMPARE(ran, 1);
        QCOMPARE(model.keys().elevenLabsKeys().active, 0);
        QCOMPARE(model.notice(), AppModel::OptionalText(reason));

        model.handleStopped(reason);
        QCOMPARE(ran, 1);
        QCOMPARE(model.keys().elevenLabsKeys().active, 1);
        QCOMPARE(model.recognitionTrouble(),
                 AppModel::OptionalText(QStringLiteral("上一个 ElevenLabs 密钥额度用完了，已换用第 2 个")));
        QVERIFY(!model.notice());
        QTRY_VERIFY_WITH_TIMEOUT(!model.recognitionTrouble(), 10000);
        model.engine().stop();
    }

    void newerTroubleOutlivesTheKeySwitchNotice()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::elevenLabsListAccount, QStringLiteral("[\"key-one-aaaaaaa\",\"key-two-bbbbbbb\"]"));
        ModelRig::storeKey(Keychain::elevenLabsAccount, QStringLiteral("key-one-aaaaaaa"));
        rig.platform.timings.keySwitchNoticeDelay = 0.2;
        AppModel &model = rig.make();
        model.handleStopped(QStringLiteral("ElevenLabs 额度用完了"));
        QCOMPARE(model.keys().elevenLabsKeys().active, 1);
        QCOMPARE(model.recognitionTrouble(),
                 AppModel::OptionalText(QStringLiteral("上一个 ElevenLabs 密钥额度用完了，已换用第 2 个")));

        // A newer message replaces the notice before its time is up; the notice's end leaves it.
        const QString newer = QStringLiteral("连接断了，正在重连…");
        model.engine().callbacks.connection(newer);
        QTRY_COMPARE_WITH_TIMEOUT(model.recognitionTrouble(), AppModel::OptionalText(newer), 10000);
        QTimer pastTheNotice;
        pastTheNotice.setSingleShot(true);
        QSignalSpy past(&pastTheNotice, &QTimer::timeout);
        pastTheNotice.start(int(rig.platform.timings.keySwitchNoticeDelay * 1000) * 2);
        QVERIFY(past.wait(10000));
        QCOMPARE(model.recognitionTrouble(), AppModel::OptionalText(newer));
        model.engine().stop();
    }

    void recordEntries_data()
    {
        QTest::addColumn<CaptionLine>("line");
        QTest::addColumn<bool>("traditional");
        QTest::addColumn<AppModel::OptionalText>("chinese");
        QTest::addColumn<QString>("english");
        QTest::addColumn<AppModel::OptionalText>("original");
        using T = AppModel::OptionalText;
        CaptionLine chinese = makeLine(0, QStringLiteral("我们开会"), QStringLiteral("We meet"));
        chinese.language = SpeechLanguage::chinese;
        QTest::newRow("Chinese speech") << chinese << false << T(QStringLiteral("我们开会")) << QStringLiteral("We meet") << T();
        QTest::newRow("Chinese speech, traditional") << chinese << true << T(QStringLiteral("[繁]我们开会"))
                                                     << QStringLiteral("We meet") << T();
        CaptionLine english = makeLine(0, QStringLiteral("We meet"), QStringLiteral("我们开会"));
        english.language = SpeechLanguage::english;
        QTest::newRow("English speech") << english << true << T(QStringLiteral("我们开会")) << QStringLiteral("We meet") << T();
        CaptionLine spanish = makeLine(0, QStringLiteral("Hola a todos"), QStringLiteral("大家好"));
        spanish.language = SpeechLanguage::other;
        spanish.alt = QStringLiteral("Hello everyone");
        QTest::newRow("third language") << spanish << false << T(QStringLiteral("大家好"))
                                        << QStringLiteral("Hello everyone") << T(QStringLiteral("Hola a todos"));
        CaptionLine revised = english;
        revised.revised = CaptionLine::Revision {QStringLiteral("We meet at 9."), QStringLiteral("我们9点开会。"), QString()};
        QTest::newRow("revision") << revised << false << T(QStringLiteral("我们9点开会。")) << QStringLiteral("We meet at 9.") << T();
        CaptionLine untranslated = makeLine(0, QStringLiteral("我们开会"));
        QTest::newRow("Chinese without translation, language detected")
            << untranslated << false << T() << QStringLiteral("我们开会") << T();
    }

    void recordEntries()
    {
        QFETCH(CaptionLine, line);
        QFETCH(bool, traditional);
        QFETCH(AppModel::OptionalText, chinese);
        QFETCH(QString, english);
        QFETCH(AppModel::OptionalText, original);
        ModelRig rig;
        AppModel &model = rig.make();
        const auto saved = ChineseScript::toTraditional;
        ChineseScript::toTraditional = [](const QString &text) { return QStringLiteral("[繁]") + text; };
        CaptionParts parts = model.captionParts();
        parts.traditional = traditional;
        model.setCaptionParts(parts);
        const TranscriptWriter::Entry entry = model.recordEntry(line);
        ChineseScript::toTraditional = saved;
        QCOMPARE(entry.chinese, chinese);
        QCOMPARE(entry.english, english);
        QCOMPARE(entry.original, original);
        QCOMPARE(entry.time, line.time);
        QVERIFY(!entry.note && !entry.block);
    }

    void savesAreCoalesced()
    {
        ModelRig rig;
        rig.platform.timings.saveDelay = 0.2;
        AppModel &model = rig.make();
        model.transcript().begin(rig.wallNow);
        rig.setLines({makeLine(0, QStringLiteral("Hello"), QStringLiteral("你好"))});
        QSignalSpy saves(&model, &AppModel::transcriptProblemChanged);
        for (int i = 0; i < 10; ++i)
            model.scheduleSave();
        QVERIFY(model.savePending());
        QTRY_COMPARE_WITH_TIMEOUT(saves.count(), 1, 10000);
        QVERIFY(!model.savePending());
        QTest::qWait(400); // no second save follows
        QCOMPARE(saves.count(), 1);

        // A direct save cancels the pending one.
        model.scheduleSave();
        model.saveTranscript(true);
        QVERIFY(!model.savePending());
        QTRY_COMPARE_WITH_TIMEOUT(saves.count(), 2, 10000);
        QTest::qWait(400);
        QCOMPARE(saves.count(), 2);
        QVERIFY(!model.transcriptProblem());

        // A folder that cannot be written: the problem shows until the next good save.
        const QString folder = model.transcript().directory();
        QVERIFY(QDir(folder).removeRecursively());
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        model.saveTranscript(true);
        QTRY_COMPARE_WITH_TIMEOUT(model.transcriptProblem(), AppModel::OptionalText(AppModel::saveFailedText), 10000);
        QVERIFY(QFile::remove(folder));
        model.saveTranscript(true);
        QTRY_VERIFY_WITH_TIMEOUT(!model.transcriptProblem(), 10000);
    }

    void saveWaitStartsAtTheFirstChange()
    {
        // Changes that keep coming, each sooner than the wait, must not hold the save back:
        // everything changed within the wait goes into the save that the first change armed.
        ModelRig rig;
        rig.platform.timings.saveDelay = 0.3;
        AppModel &model = rig.make();
        model.transcript().begin(rig.wallNow);
        rig.setLines({makeLine(0, QStringLiteral("Hello"), QStringLiteral("你好"))});
        QSignalSpy saves(&model, &AppModel::transcriptProblemChanged);
        int changes = 0;
        while (saves.isEmpty() && changes < 300) {
            model.scheduleSave();
            ++changes;
            QTest::qWait(30); // one change every 30 ms, ten within each wait
        }
        QVERIFY2(!saves.isEmpty(), "no save while changes kept coming");
        QCOMPARE(saves.count(), 1);
    }

    void nothingKeptNothingWritten()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.transcript().begin(rig.wallNow);
        CaptionLine mergedLine = makeLine(1, QStringLiteral("merged"), QStringLiteral("合并"));
        mergedLine.merged = true;
        rig.setLines({makeLine(0, QStringLiteral("open"), {}, false), mergedLine, makeLine(2, QString())});
        QSignalSpy saves(&model, &AppModel::transcriptProblemChanged);
        model.saveTranscript(true);
        QTest::qWait(100);
        QCOMPARE(saves.count(), 0);
        QVERIFY(!QFile::exists(*model.transcript().fileURL()));
    }

    void livePreview_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("turn");
        QTest::addColumn<bool>("raw");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("live");
        QTest::newRow("continues the row") << "We went" << false << true << "We went" << " to the park";
        QTest::newRow("after a Chinese character") << "我们去了" << false << true << "我们去了" << "to the park";
        QTest::newRow("new turn starts a row") << "We went" << true << true << "" << "to the park";
        QTest::newRow("not passing English through") << "We went" << false << false << "We went" << "";
    }

    void livePreview()
    {
        QFETCH(QString, shown);
        QFETCH(bool, turn);
        QFETCH(bool, raw);
        QFETCH(QString, text);
        QFETCH(QString, live);
        ModelRig rig;
        AppModel &model = rig.make();
        if (raw)
            rig.useRawPipeline(SpeechLanguage::english);
        model.appendEnglishPiece(shown);
        if (turn)
            model.apply({CaptionPipeline::Output::turn()});
        rig.setLiveEnglish(QStringLiteral("to the park"));
        model.publishRows();
        const CaptionRow row = model.rows().last();
        QCOMPARE(row.text, text);
        QCOMPARE(row.live, live);
        QCOMPARE(model.layout().rows.last(), shown); // the model's own layout is untouched
    }

    void rowsKeepTheLastThree()
    {
        ModelRig rig;
        rig.platform.measurer = [](double) { return [](QStringView text) { return 10.0 * text.size(); }; };
        AppModel &model = rig.make();
        QVERIFY(model.rows().size() <= 1);
        for (int i = 0; i < 5; ++i) {
            model.begin(QStringLiteral("line"), true);
            model.append(i, QStringLiteral("第%1行").arg(i));
            model.finish(i, true);
        }
        QCOMPARE(model.rows().size(), 3);
        const qint64 first = model.layout().firstRowIndex;
        const qsizetype count = model.layout().rows.size();
        QCOMPARE(model.rows().last().id, int(first + count - 1));
        QCOMPARE(model.rows().first().id, int(first + count - 3));
        QCOMPARE(model.rows().last().text, model.layout().rows.last());
        for (const CaptionRow &row : model.rows())
            QVERIFY(row.live.isEmpty());
        QSignalSpy rows(&model, &AppModel::rowsChanged);
        model.publishRows();
        QCOMPARE(rows.count(), 0);
    }
};

DODEDAROV_TEST(AppModelCaptionTest)
#include "AppModelCaptionTest.moc"
