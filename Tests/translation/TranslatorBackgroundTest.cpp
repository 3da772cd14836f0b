#include "TestMain.h"

#include "fakes/TranslatorRig.h"
#include "platform/Keychain.h"

using Item = Translator::BackfillItem;

class TranslatorBackgroundTest final : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();

    void twoAtATimeOldestFirst();
    void runningLineIsNotAskedAgain();
    void reports_data();
    void reports();
    void retryOnce_data();
    void retryOnce();
    void fatalFailureDropsWaitingJobs();
    void mergeWithoutIds();
};

void TranslatorBackgroundTest::init()
{
    if (!Keychain::get(Keychain::deepSeekAccount))
        QVERIFY(Keychain::set(QStringLiteral("sk-background-test"), Keychain::deepSeekAccount));
}

void TranslatorBackgroundTest::cleanupTestCase()
{
    Keychain::set(QString(), Keychain::deepSeekAccount);
}

void TranslatorBackgroundTest::twoAtATimeOldestFirst()
{
    TranslatorRig rig;
    rig.translator.recheck(Item(1, QStringLiteral("One."), {}), QStringLiteral("h"));
    rig.translator.recheck(Item(2, QStringLiteral("Two."), {}), QStringLiteral("h"));
    rig.translator.recheck(Item(3, QStringLiteral("Three."), {}), QStringLiteral("h"));
    rig.translator.recheck(Item(4, QStringLiteral("Four."), {}), QStringLiteral("h"));
    QCOMPARE(rig.translator.backfillInFlight(), (QSet<int>{1, 2}));
    QTRY_COMPARE(rig.server.count(), 2);
    QTest::qWait(30);
    QCOMPARE(rig.server.count(), 2);
    QVERIFY(rig.requestWith(QStringLiteral("【请翻译这一段】One.")) >= 0);
    QVERIFY(rig.requestWith(QStringLiteral("【请翻译这一段】Two.")) >= 0);

    // The job that reports makes room for the oldest waiting one.
    rig.server.reply(rig.requestWith(QStringLiteral("Two.")), {QStringLiteral("二。")});
    QTRY_COMPARE(rig.server.count(), 3);
    QCOMPARE(rig.events, QStringList{"rechecked 2 二。|"});
    QCOMPARE(rig.server.at(2).lastUser(), QStringLiteral("【请翻译这一段】Three."));
    QCOMPARE(rig.translator.backfillInFlight(), (QSet<int>{1, 3}));

    rig.server.reply(rig.requestWith(QStringLiteral("One.")), {QStringLiteral("一。")});
    QTRY_COMPARE(rig.server.count(), 4);
    QCOMPARE(rig.server.at(3).lastUser(), QStringLiteral("【请翻译这一段】Four."));
    // Each answer travels on its own connection, and nothing orders two connections' replies
    // on the way back: the second answer goes out once the first has reported.
    rig.server.reply(2, {QStringLiteral("三。")});
    QTRY_COMPARE(rig.events.size(), 3);
    rig.server.reply(3, {QStringLiteral("四。")});
    QTRY_COMPARE(rig.events.size(), 4);
    QCOMPARE(rig.events, (QStringList{"rechecked 2 二。|", "rechecked 1 一。|", "rechecked 3 三。|",
                                      "rechecked 4 四。|"}));
    QVERIFY(rig.translator.backfillInFlight().isEmpty());
    QVERIFY(rig.translator.backfillItems().isEmpty());
}

void TranslatorBackgroundTest::runningLineIsNotAskedAgain()
{
    TranslatorRig rig;
    rig.translator.correct(Item(3, QStringLiteral("人工只能"), {}));
    QTRY_COMPARE(rig.server.count(), 1);
    rig.translator.correct(Item(3, QStringLiteral("人工只能"), {}));
    rig.translator.requestEnglish(Item(3, QStringLiteral("人工只能"), {}));
    QVERIFY(rig.translator.backfillItems().isEmpty());

    // A line that is only waiting may wait twice.
    rig.translator.recheck(Item(8, QStringLiteral("Eight."), {}), QStringLiteral("h"));
    rig.translator.recheck(Item(9, QStringLiteral("Nine."), {}), QStringLiteral("h"));
    rig.translator.recheck(Item(9, QStringLiteral("Nine."), {}), QStringLiteral("h"));
    QCOMPARE(rig.translator.backfillItems().size(), 2);

    rig.server.reply(0, {QStringLiteral("人工智能")});
    QTRY_VERIFY(rig.has("corrected 3 人工智能"));
    // Its job has reported: the line may be asked about again (it waits, both workers are busy).
    QTRY_COMPARE(rig.translator.backfillInFlight(), (QSet<int>{8, 9}));
    rig.translator.correct(Item(3, QStringLiteral("人工智能吗"), {}));
    QCOMPARE(rig.translator.backfillItems().size(), 2);
    QCOMPARE(rig.translator.backfillItems().front().id, 3);
    QVERIFY(rig.translator.backfillItems().front().correctOnly);
}

void TranslatorBackgroundTest::reports_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("userStart"); // how the request's user message begins
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("correct: plausible")
        << "correct" << "人工只能" << "人工\n智能" << "【上文】前一句。\n\n【请校对这一段】人工只能"
        << QStringList{"corrected 7 人工 智能"};
    QTest::newRow("correct: english answer ignored")
        << "correct" << "人工只能" << "artificial intelligence" << "【上文】" << QStringList{};
    QTest::newRow("english line")
        << "english" << "Bonjour tout le monde" << " Hello\neveryone " << "【上文】前一句。\n\n【请译成英文】Bonjour"
        << QStringList{"alternate 7 Hello everyone"};
    QTest::newRow("english line that is chinese")
        << "english" << "Bonjour tout le monde" << "大家好" << "【上文】" << QStringList{};
    QTest::newRow("english line repeating the source")
        << "english" << "Bonjour tout le monde" << "bonjour, TOUT le monde!" << "【上文】" << QStringList{};
    QTest::newRow("recheck english")
        << "recheck" << "We met at 5." << "我们五点见面。" << "【上文（只帮助理解，不要翻译、不要复述）】前一句。\n\n【请翻译这一段】We met"
        << QStringList{"rechecked 7 我们五点见面。|"};
    QTest::newRow("recheck english: a second line is the english line")
        << "recheck" << "We met at 5." << "我们五点见面。\nWe met at five." << "【上文（只帮助理解"
        << QStringList{"rechecked 7 我们五点见面。|We met at five."};
    QTest::newRow("recheck third language with english line")
        << "recheck" << "gracias por todo, muy bien" << "大家好\nEN: Hello all" << "【上文（只帮助理解"
        << QStringList{"rechecked 7 大家好|Hello all"};
    QTest::newRow("recheck chinese without head")
        << "recheck" << "我们讨论预算" << "We discuss the budget" << "【上文（只帮助理解"
        << QStringList{"rechecked 7 We discuss the budget|"};
    QTest::newRow("refix chinese reports only the translation")
        << "refix" << "我们讨论预算" << "校对：我们讨论欲算\nWe discuss\nthe budget" << "【上文（只帮助理解"
        << QStringList{"refixed 7 We discuss the budget|"};
    QTest::newRow("merge chinese carries the corrected source")
        << "merge" << "我们讨论预算" << "校对：我们讨论欲算\nWe discuss the budget" << "【上文（只帮助理解"
        << QStringList{"merged 7,8,9 我们讨论欲算|We discuss the budget|"};
    QTest::newRow("merge chinese with implausible head")
        << "merge" << "我们讨论预算" << "校对：we\nWe discuss the budget" << "【上文（只帮助理解"
        << QStringList{"merged 7,8,9 我们讨论预算|We discuss the budget|"};
    QTest::newRow("merge english")
        << "merge" << "We met. At five." << "我们五点见面。" << "【上文（只帮助理解"
        << QStringList{"merged 7,8,9 We met. At five.|我们五点见面。|"};
}

void TranslatorBackgroundTest::reports()
{
    QFETCH(QString, kind);
    QFETCH(QString, english);
    QFETCH(QString, answer);
    QFETCH(QString, userStart);
    QFETCH(QStringList, expected);

    TranslatorRig rig;
    rig.translator.memory = [](const QString &sentence) { return QStringLiteral("\n\n【记忆】") + sentence; };
    const Item item(7, english, {QStringLiteral("前一句。")});
    if (kind == "correct")
        rig.translator.correct(item);
    else if (kind == "english")
        rig.translator.requestEnglish(item);
    else if (kind == "recheck")
        rig.translator.recheck(item, QStringLiteral("\n\n【提示】数字"));
    else if (kind == "refix")
        rig.translator.refix(item, QStringLiteral("\n\n【提示】重译"));
    else
        rig.translator.merge({7, 8, 9}, english, {QStringLiteral("前一句。")});
    QTRY_COMPARE(rig.server.count(), 1);

    const ManualDeepSeekServer::Exchange &request = rig.server.at(0);
    QVERIFY2(request.lastUser().startsWith(userStart), qPrintable(request.lastUser()));
    if (kind == "recheck" || kind == "refix") {
        const QString hint = kind == "recheck" ? QStringLiteral("【提示】数字") : QStringLiteral("【提示】重译");
        QVERIFY(request.system().contains(QStringLiteral("【记忆】") + english + QStringLiteral("\n\n") + hint));
    }
    const bool other = SpeechLanguage(english) == SpeechLanguage::other;
    QCOMPARE(request.system().endsWith(QStringLiteral("第二行以“EN: ”开头的英文译文。")),
             other && kind != "english" && kind != "correct");

    rig.server.reply(0, {answer});
    QTRY_VERIFY(rig.translator.backfillInFlight().isEmpty());
    QTest::qWait(20);
    QCOMPARE(rig.events, expected);
}

void TranslatorBackgroundTest::retryOnce_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("first");  // "empty", "drop" or "500"
    QTest::addColumn<QString>("second"); // the second answer; "" for empty
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("recheck: empty twice") << "recheck" << "empty" << "" << QStringList{"rechecked 7 <none>|"};
    QTest::newRow("recheck: empty then answer") << "recheck" << "empty" << "好的。" << QStringList{"rechecked 7 好的。|"};
    QTest::newRow("recheck: failure then answer") << "recheck" << "500" << "好的。" << QStringList{"rechecked 7 好的。|"};
    QTest::newRow("recheck: broken stream then answer") << "recheck" << "drop" << "好的。" << QStringList{"rechecked 7 好的。|"};
    QTest::newRow("correct: empty twice") << "correct" << "empty" << "" << QStringList{};
    QTest::newRow("english: empty twice") << "english" << "empty" << "" << QStringList{};
}

void TranslatorBackgroundTest::retryOnce()
{
    QFETCH(QString, kind);
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QStringList, expected);

    TranslatorRig rig;
    const Item item(7, kind == "correct" ? QStringLiteral("人工只能") : QStringLiteral("Okay."), {});
    if (kind == "correct")
        rig.translator.correct(item);
    else if (kind == "english")
        rig.translator.requestEnglish(item);
    else
        rig.translator.recheck(item, QStringLiteral("h"));
    QTRY_COMPARE(rig.server.count(), 1);
    if (first == "empty")
        rig.server.reply(0, {});
    else if (first == "drop")
        rig.server.drop(0);
    else
        rig.server.fail(0, 500);
    // The failure travels through the network thread before the retry goes out: a generous
    // wait for a busy machine.
    QTRY_COMPARE_WITH_TIMEOUT(rig.server.count(), 2, 15000);
    QCOMPARE(rig.server.at(1).json, rig.server.at(0).json);
    QVERIFY(rig.events.isEmpty());
    rig.server.reply(1, second.isEmpty() ? QStringList{} : QStringList{second});
    QTRY_VERIFY(rig.translator.backfillInFlight().isEmpty());
    QTest::qWait(20);
    QCOMPARE(rig.events, expected);
    QCOMPARE(rig.server.count(), 2);
}

void TranslatorBackgroundTest::fatalFailureDropsWaitingJobs()
{
    TranslatorRig rig;
    rig.translator.recheck(Item(1, QStringLiteral("One."), {}), QStringLiteral("h"));
    rig.translator.recheck(Item(2, QStringLiteral("Two."), {}), QStringLiteral("h"));
    rig.translator.recheck(Item(3, QStringLiteral("Three."), {}), QStringLiteral("h"));
    QTRY_COMPARE(rig.server.count(), 2);
    rig.enqueue(QStringLiteral("Still waiting."), SpeechLanguage::english);

    const int one = rig.requestWith(QStringLiteral("One."));
    rig.server.delta(one, QStringLiteral("部分"));
    QTest::qWait(20);
    rig.server.drop(one);
    // The failure travels through the network thread before the retry goes out: a generous
    // wait for a busy machine.
    QTRY_COMPARE_WITH_TIMEOUT(rig.server.count(), 3, 15000); // the one retry
    rig.server.fail(2, 402);
    QTRY_VERIFY(!rig.starting("fatal").isEmpty());
    // The failed job reports what it had; no retry after a fatal failure; waiting jobs go.
    QCOMPARE(rig.events, (QStringList{"rechecked 1 <none>|", "fatal DeepSeek 账户余额不足。"}));
    QVERIFY(rig.translator.backfillItems().isEmpty());
    QCOMPARE(rig.translator.backfillInFlight(), QSet<int>{2});
    QCOMPARE(rig.translator.queue.size(), 1); // live speech is not background work

    // The job still running finishes and starts nothing.
    rig.server.reply(rig.requestWith(QStringLiteral("Two.")), {QStringLiteral("二。")});
    QTRY_VERIFY(rig.has("rechecked 2 二。|"));
    QTest::qWait(30);
    QCOMPARE(rig.server.count(), 3);
}

void TranslatorBackgroundTest::mergeWithoutIds()
{
    TranslatorRig rig;
    rig.translator.merge({}, QStringLiteral("text"), {});
    QVERIFY(rig.translator.backfillItems().isEmpty());
    QVERIFY(rig.translator.backfillInFlight().isEmpty());
    QTest::qWait(30);
    QCOMPARE(rig.server.count(), 0);
}

DODEDAROV_TEST(TranslatorBackgroundTest)
#include "TranslatorBackgroundTest.moc"
