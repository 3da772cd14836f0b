#include "TestMain.h"

#include "fakes/ManualDeepSeekServer.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "translation/DeepSeekTransport.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// A finished line of `words` copies of `word`.
CaptionLine wordsLine(int id, const QString &word, int words, bool finished = true)
{
    CaptionLine l;
    l.id = id;
    QStringList list;
    for (int i = 0; i < words; ++i)
        list.append(word);
    l.english = list.join(QLatin1Char(' '));
    l.chinese = QStringLiteral("译文") + QString::number(id);
    l.finished = finished;
    l.time = QDateTime(QDate(2026, 5, 4), QTime(9, 40));
    return l;
}

const QString goodReply = QStringLiteral(R"({"recap":"本场会议讨论了新产品的发布计划和时间表，以及市场反馈。"})");

// A listening meeting (without the engine) whose recap requests go to a server the test answers.
struct RecapRig {
    ModelRig rig;
    ManualDeepSeekServer server;
    AppModel *model = nullptr;
    double start = 0;

    RecapRig()
    {
        if (!server.listen())
            qFatal("cannot listen on loopback");
        DeepSeekTransport::baseAddress = server.baseUrl();
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-recap"));
        model = &rig.make();
        rig.beginMeeting();
        model->setRunningState(true);
        start = rig.now;
    }
    // Moves 60 s on and ticks once.
    void later()
    {
        rig.now += 60;
        rig.tick();
    }
};

} // namespace

// When the running recap is renewed, which lines go into it and how its reply is taken over.
class AppModelRecapTest final : public QObject {
    Q_OBJECT

private slots:
    void threshold_data()
    {
        QTest::addColumn<int>("words");
        QTest::addColumn<double>("after");
        QTest::addColumn<int>("requests");
        QTest::newRow("249 words") << 249 << 60.0 << 0;
        QTest::newRow("250 words") << 250 << 60.0 << 1;
        QTest::newRow("250 words, 59 s") << 250 << 59.0 << 0;
    }
    void threshold()
    {
        QFETCH(int, words);
        QFETCH(double, after);
        QFETCH(int, requests);
        RecapRig r;
        r.rig.setLines({wordsLine(0, QStringLiteral("alpha"), words - 10), wordsLine(1, QStringLiteral("bravo"), 10)});
        r.rig.now = r.start + after;
        r.rig.tick();
        if (requests)
            QTRY_COMPARE_WITH_TIMEOUT(r.server.count(), requests, 10000);
        // Nothing asked is nothing sent: give a wrongly made request the chance to arrive.
        QTest::qWait(0);
        QCOMPARE(r.server.count(), requests);
    }

    void mergedAndStreamingLinesNotCounted()
    {
        RecapRig r;
        CaptionLine merged = wordsLine(1, QStringLiteral("merged"), 100);
        merged.merged = true;
        r.rig.setLines({wordsLine(0, QStringLiteral("alpha"), 200), merged,
                        wordsLine(2, QStringLiteral("streaming"), 100, false), wordsLine(3, QString(), 0)});
        r.later();
        r.rig.setLines({wordsLine(0, QStringLiteral("alpha"), 200), merged,
                        wordsLine(2, QStringLiteral("streaming"), 100, false), wordsLine(3, QStringLiteral("more"), 50)});
        r.later();
        QTRY_COMPARE_WITH_TIMEOUT(r.server.count(), 1, 10000);
        const QString sent = r.server.at(0).lastUser();
        QVERIFY(sent.contains(QStringLiteral("alpha")));
        QVERIFY(sent.contains(QStringLiteral("more")));
        QVERIFY(!sent.contains(QStringLiteral("merged")));
        QVERIFY(!sent.contains(QStringLiteral("streaming")));
    }

    // A line still translating when a request goes is in the next one; no line is in two.
    void streamingLineSentLaterOnce()
    {
        RecapRig r;
        CaptionLine revisedLine = wordsLine(3, QStringLiteral("delta"), 100);
        revisedLine.revised = CaptionLine::Revision{QStringLiteral("echo revised source"), QStringLiteral("修订译文"), {}};
        QList<CaptionLine> lines{wordsLine(0, QStringLiteral("alpha"), 200), wordsLine(1, QStringLiteral("bravo"), 30, false),
                                 wordsLine(2, QStringLiteral("charlie"), 100)};
        r.rig.setLines(lines);
        r.later();
        QTRY_COMPARE_WITH_TIMEOUT(r.server.count(), 1, 10000);
        QString sent = r.server.at(0).lastUser();
        QVERIFY(sent.contains(QStringLiteral("alpha")) && sent.contains(QStringLiteral("charlie")));
        QVERIFY(!sent.contains(QStringLiteral("bravo")));
        QCOMPARE(r.rig.recapLine(), 1);
        r.server.reply(0, {goodReply});
        QTRY_VERIFY_WITH_TIMEOUT(!r.model->recap().isEmpty(), 10000);

        lines[1].finished = true;
        lines.append(revisedLine);
        lines.append(wordsLine(4, QStringLiteral("foxtrot"), 150));
        r.rig.setLines(lines);
        r.later();
        QTRY_COMPARE_WITH_TIMEOUT(r.server.count(), 2, 10000);
        sent = r.server.at(1).lastUser();
        QVERIFY2(sent.contains(QStringLiteral("bravo")), qPrintable(sent));
        QVERIFY(sent.contains(QStringLiteral("echo revised source")));
        QVERIFY(sent.contains(QStringLiteral("修订译文")));
        QVERIFY(sent.contains(QStringLiteral("foxtrot")));
        QVERIFY(!sent.contains(QStringLiteral("alpha")));
        QVERIFY(!sent.contains(QStringLiteral("charlie")));
        QVERIFY(!sent.contains(QStringLiteral("delta")));
        QCOMPARE(r.rig.recapLine(), 5);
    }

    void rejectedReplyOffersLinesAgain_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("fails");
        QTest::newRow("not JSON") << QStringLiteral("好的，这是摘要") << false;
        QTest::newRow("too short") << QStringLiteral(R"({"recap":"短"})") << false;
        QTest::newRow("server error") << QString() << true;
    }
    void rejectedReplyOffersLinesAgain()
    {
        QFETCH(QString, reply);
        QFETCH(bool, fails);
        RecapRig r;
        r.model->setRecap(QStringLiteral("旧的前情提要"));
        r.rig.setLines({wordsLine(0, QStringLiteral("alpha"), 260)});
        r.later();
        QTRY_COMPARE_WITH_TIMEOUT(r.server.count(), 1, 10000);
        QSignalSpy recapChanged(r.model, &AppModel::recapChanged);
        if (fails)
            r.server.fail(0, 500);
        else
            r.server.reply(0, {reply});
        QTRY_COMPARE_WITH_TIMEOUT(r.rig.recapLine(), 0, 10000);
        QCOMPARE(r.model->recap(), QStringLiteral("旧的前情提要"));
        QCOMPARE(recapChanged.count(), 0);

        r.rig.setLines({wordsLine(0, QStringLiteral("alpha"), 260), wordsLine(1, QStringLiteral("bravo"), 5)});
        r.later();
        QTRY_COMPARE_WITH_TIMEOUT(r.server.count(), 2, 10000);
        const QString sent = r.server.at(1).lastUser();
        QVERIFY(sent.contains(QStringLiteral("alpha")) && sent.contains(QStringLiteral("bravo")));
        QVERIFY(sent.contains(QStringLiteral("旧的前情提要")));
    }

    void lateReplyAfterNewMeeting()
    {
        RecapRig r;
        r.rig.setLines({wordsLine(0, QStringLiteral("alpha"), 260)});
        r.later();
        QTRY_COMPARE_WITH_TIMEOUT(r.server.count(), 1, 10000);

        r.model->setMeetingActiveState(false);
        r.rig.beginMeeting();
        r.rig.setLines({wordsLine(0, QStringLiteral("bravo"), 260)});
        r.later();
        QTRY_COMPARE_WITH_TIMEOUT(r.server.count(), 2, 10000);

        r.server.reply(0, {goodReply});
        QTRY_VERIFY_WITH_TIMEOUT(r.server.open() == QList<int>{1}, 10000);
        QTest::qWait(50);
        QVERIFY(r.model->recap().isEmpty());
        // The new meeting's request is still the one running: no second one starts.
        r.later();
        QTest::qWait(50);
        QCOMPARE(r.server.count(), 2);
        r.server.reply(1, {goodReply});
        QTRY_VERIFY_WITH_TIMEOUT(!r.model->recap().isEmpty(), 10000);
    }
};

DODEDAROV_TEST(AppModelRecapTest)
#include "AppModelRecapTest.moc"
