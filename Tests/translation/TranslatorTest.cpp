#include "TestMain.h"

#include <QJsonDocument>

#include "fakes/TranslatorRig.h"
#include "platform/Keychain.h"
#include "translation/DeepSeekTransport.h"
#include "translation/Translator.h"

#include <QJsonArray>
#include <QScopeGuard>
#include <QSemaphore>
#include <QUuid>

#include <atomic>

namespace {
using Entry = std::tuple<QString, bool, SpeechLanguage>;
using Rig = TranslatorRig;
} // namespace

Q_DECLARE_METATYPE(SpeechLanguage)

class TranslatorTest final : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void batching_data();
    void batching();
    void continuation_data();
    void continuation();
    void streamedPieces();
    void correctionHead_data();
    void correctionHead();
    void thirdLanguageAlternate_data();
    void thirdLanguageAlternate();
    void liveRequestCarriesStableMemoryAndHints();
    void contextGrowsAndIsCut();
    void historyFollowsDirection();
    void retryAfterFailure_data();
    void retryAfterFailure();
    void retryStartsFromEmptyHead();
    void fatalFailureKeepsQueuedSpeech();
    void missingKeyKeepsQueuedSpeech();
    void slowKeyringIsWaitedFor_data();
    void slowKeyringIsWaitedFor();
    void slowKeyringLeavesMainThreadFree();
    void resetSilencesOldRequest();
    void resetDropsHeldHead();
    void queueAccess();

    void plausibleCorrection_data();
    void plausibleCorrection();
    void mayBeCorrectionHead_data();
    void mayBeCorrectionHead();
    void usefulAlternate_data();
    void usefulAlternate();
};

void TranslatorTest::initTestCase()
{
    QVERIFY(Keychain::set(QStringLiteral("sk-translator-test"), Keychain::deepSeekAccount));
}

void TranslatorTest::init()
{
    // A test that removed the key must not leave the next one without it.
    if (!Keychain::get(Keychain::deepSeekAccount))
        QVERIFY(Keychain::set(QStringLiteral("sk-translator-test"), Keychain::deepSeekAccount));
}

void TranslatorTest::cleanupTestCase()
{
    Keychain::set(QString(), Keychain::deepSeekAccount);
}

void TranslatorTest::batching_data()
{
    QTest::addColumn<QList<Entry>>("entries");
    QTest::addColumn<QStringList>("batches");

    const auto en = SpeechLanguage::english;
    const auto zh = SpeechLanguage::chinese;
    QTest::newRow("turn and language split")
        << QList<Entry>{{"Hello there.", true, en}, {"How are you?", false, en}, {"你好。", false, zh},
                        {"Fine.", false, en}}
        << QStringList{"Hello there. How are you?", "你好。", "Fine."};
    QTest::newRow("a new turn starts a batch")
        << QList<Entry>{{"One.", false, en}, {"Two.", true, en}, {"Three.", false, en}}
        << QStringList{"One.", "Two. Three."};
    QTest::newRow("chinese joins without spaces")
        << QList<Entry>{{"我们。", false, zh}, {"开始。", false, zh}} << QStringList{"我们。开始。"};
}

void TranslatorTest::batching()
{
    QFETCH(QList<Entry>, entries);
    QFETCH(QStringList, batches);
    Rig rig;
    rig.server.onRequest = [&rig](int i) { rig.server.reply(i, {QStringLiteral("好")}); };
    for (const auto &[text, newTurn, language] : entries)
        rig.enqueue(text, language, newTurn);
    rig.translator.pump();
    QTRY_COMPARE(rig.starting("finish").size(), batches.size());
    QCOMPARE(rig.server.count(), batches.size());
    for (int i = 0; i < batches.size(); ++i) {
        QCOMPARE(rig.server.at(i).lastUser(), batches[i]);
        QVERIFY(rig.starting("begin")[i].startsWith(QStringLiteral("begin %1 %2").arg(100 + i).arg(batches[i])));
        QVERIFY(rig.has(QStringLiteral("finish %1 ok").arg(100 + i)));
    }
    QVERIFY(rig.translator.queue.isEmpty());
    QVERIFY(!rig.translator.running());
}

void TranslatorTest::continuation_data()
{
    QTest::addColumn<QString>("firstText");
    QTest::addColumn<double>("after");
    QTest::addColumn<bool>("newTurn");
    QTest::addColumn<SpeechLanguage>("language");
    QTest::addColumn<bool>("continues");

    QTest::newRow("within 8 s") << "we went to the" << 7.9 << false << SpeechLanguage(SpeechLanguage::english) << true;
    QTest::newRow("8 s is too late") << "we went to the" << 8.0 << false << SpeechLanguage(SpeechLanguage::english) << false;
    QTest::newRow("new turn") << "we went to the" << 1.0 << true << SpeechLanguage(SpeechLanguage::english) << false;
    QTest::newRow("other language") << "we went to the" << 1.0 << false << SpeechLanguage(SpeechLanguage::other) << false;
    QTest::newRow("finished sentence") << "we went home." << 1.0 << false << SpeechLanguage(SpeechLanguage::english) << false;
    QTest::newRow("open japanese ending") << "雨が降ったけど、" << 1.0 << false << SpeechLanguage(SpeechLanguage::english) << true;
}

void TranslatorTest::continuation()
{
    QFETCH(QString, firstText);
    QFETCH(double, after);
    QFETCH(bool, newTurn);
    QFETCH(SpeechLanguage, language);
    QFETCH(bool, continues);

    Rig rig;
    rig.enqueue(firstText, SpeechLanguage::english);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    rig.now = 200.0;
    rig.server.reply(0, {QStringLiteral("我们去了")});
    QTRY_VERIFY(rig.has("finish 100 ok"));

    rig.now = 200.0 + after;
    rig.enqueue(QStringLiteral("store"), language, newTurn);
    rig.translator.pump();
    if (continues) {
        QVERIFY(rig.has("continue 100 store"));
        QVERIFY(rig.has(QStringLiteral("language 100 %1").arg(TranslatorRig::name(language))));
    } else {
        QVERIFY(rig.has(QStringLiteral("begin 101 store%1").arg(newTurn ? " [turn]" : "")));
        QVERIFY(rig.starting("continue").isEmpty());
    }
    QTRY_COMPARE(rig.server.count(), 2);
    rig.server.reply(1, {QStringLiteral("商店")});
    QTRY_COMPARE(rig.starting("finish").size(), 2);
    QVERIFY(rig.has(QStringLiteral("finish %1 ok").arg(continues ? 100 : 101)));
    QVERIFY2(rig.has(QStringLiteral("append %1 商店").arg(continues ? 100 : 101)), qPrintable(rig.events.join(" / ")));
}

void TranslatorTest::streamedPieces()
{
    Rig rig;
    rig.enqueue(QStringLiteral("Good morning"), SpeechLanguage::english, true, 96.0);
    rig.enqueue(QStringLiteral("everyone."), SpeechLanguage::english, false, 95.0);
    rig.translator.pump();
    QCOMPARE(rig.events, (QStringList{"begin 100 Good morning everyone. [turn]", "language 100 en"}));
    QTRY_COMPARE(rig.server.count(), 1);

    rig.now = 101.5;
    rig.server.delta(0, QStringLiteral("  "));
    rig.server.delta(0, QStringLiteral(" 大家"));
    QTRY_VERIFY(rig.has("append 100 大家"));
    rig.now = 102.0;
    rig.server.delta(0, QStringLiteral(" 早上好"));
    rig.server.finish(0);
    QTRY_VERIFY(rig.has("finish 100 ok"));
    // Latency once, at the first visible piece, from the earliest speech of the batch.
    QCOMPARE(rig.events, (QStringList{"begin 100 Good morning everyone. [turn]", "language 100 en",
                                          "latency 6.5 1.5", "append 100 大家", "append 100  早上好",
                                          "finish 100 ok"}));
    QCOMPARE(rig.translator.context(),
             (QList<DeepSeek::Pair>{{"Good morning everyone.", "大家 早上好", ""}}));
    QVERIFY(!rig.translator.openLine);
}

void TranslatorTest::correctionHead_data()
{
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QStringList>("expected"); // events after "language 100 zh"
    QTest::addColumn<QString>("contextSource");

    const QString source = QStringLiteral("我们今天讨论预算");
    QTest::newRow("head across pieces accepted")
        << QStringList{"校", "对：我们今天", "讨论欲算\nWe discuss", " the budget."}
        << QStringList{"corrected 100 我们今天讨论欲算", "latency 0 0", "append 100 We discuss",
                       "append 100  the budget.", "finish 100 ok"}
        << QStringLiteral("我们今天讨论欲算");
    QTest::newRow("english head refused but removed")
        << QStringList{"校对：we talk budget now\n", "We discuss the budget."}
        << QStringList{"latency 0 0", "append 100 We discuss the budget.", "finish 100 ok"} << source;
    QTest::newRow("head 1.6 times as long refused")
        << QStringList{"校对：我们今天讨论预算我们今天讨\nWe discuss."}
        << QStringList{"latency 0 0", "append 100 We discuss.", "finish 100 ok"} << source;
    QTest::newRow("head 1.5 times as long accepted")
        << QStringList{"校对：我们今天讨论欲算我们今天\nWe discuss."}
        << QStringList{"corrected 100 我们今天讨论欲算我们今天", "latency 0 0", "append 100 We discuss.",
                       "finish 100 ok"}
        << QStringLiteral("我们今天讨论欲算我们今天");
    QTest::newRow("no label shows at once")
        << QStringList{"We", " discuss."} << QStringList{"latency 0 0", "append 100 We", "append 100  discuss.",
                                                         "finish 100 ok"}
        << source;
    QTest::newRow("head completed only at the end")
        << QStringList{"\n 校对：我们今天讨论欲算"} << QStringList{"corrected 100 我们今天讨论欲算", "finish 100 failed"}
        << QString();
    QTest::newRow("unlabelled answer held until the end")
        << QStringList{"校对"} << QStringList{"latency 0 0", "append 100 校对", "finish 100 ok"} << source;
    QTest::newRow("head of 400 characters is given up")
        << QStringList{"校对：" + QString(396, u'长'), "字"}
        << QStringList{"latency 0 0", "append 100 校对：" + QString(396, u'长') + "字", "finish 100 ok"}
        << source;
}

void TranslatorTest::correctionHead()
{
    QFETCH(QStringList, pieces);
    QFETCH(QStringList, expected);
    QFETCH(QString, contextSource);

    Rig rig;
    rig.enqueue(QStringLiteral("我们今天讨论预算"), SpeechLanguage::chinese);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    rig.server.reply(0, pieces);
    QTRY_VERIFY(!rig.starting("finish").isEmpty());
    QCOMPARE(rig.events.mid(2), expected);
    if (contextSource.isEmpty())
        QVERIFY(rig.translator.context().isEmpty());
    else
        QCOMPARE(rig.translator.context().value(0).english, contextSource);
}

void TranslatorTest::thirdLanguageAlternate_data()
{
    QTest::addColumn<SpeechLanguage>("language");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QStringList>("expected"); // events after "language 100 ..."
    QTest::addColumn<QString>("contextAlt");

    const SpeechLanguage other(SpeechLanguage::other);
    const SpeechLanguage en(SpeechLanguage::english);
    QTest::newRow("labelled english line")
        << other << QStringList{"大家好", "\nEN: Hello", "\neveryone"}
        << QStringList{"latency 0 0", "append 100 大家好", "alternate 100 Hello everyone", "finish 100 ok"}
        << "Hello everyone";
    QTest::newRow("line break inside a piece")
        << other << QStringList{"大家好\nEnglish: Hi all"}
        << QStringList{"latency 0 0", "append 100 大家好", "alternate 100 Hi all", "finish 100 ok"} << "Hi all";
    QTest::newRow("leading line break does not start the alternate")
        << other << QStringList{"\n大家好"} << QStringList{"latency 0 0", "append 100 大家好", "finish 100 ok"} << "";
    QTest::newRow("repeat of the source is not useful")
        << en << QStringList{"大家好\n", "EN: bonjour, TOUT le monde!"}
        << QStringList{"latency 0 0", "append 100 大家好", "finish 100 ok"} << "";
    QTest::newRow("lower-case label stays")
        << other << QStringList{"大家好\nen: hi"}
        << QStringList{"latency 0 0", "append 100 大家好", "alternate 100 en: hi", "finish 100 ok"} << "en: hi";
    QTest::newRow("empty alternate")
        << other << QStringList{"大家好\n", " EN: "} << QStringList{"latency 0 0", "append 100 大家好", "finish 100 ok"}
        << "";
}

void TranslatorTest::thirdLanguageAlternate()
{
    QFETCH(SpeechLanguage, language);
    QFETCH(QStringList, pieces);
    QFETCH(QStringList, expected);
    QFETCH(QString, contextAlt);

    Rig rig;
    rig.translator.sentenceHints = [](const QString &) { return QStringLiteral("HINTS"); };
    rig.enqueue(QStringLiteral("Bonjour tout le monde"), language);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    const QString formatLine =
        QStringLiteral("【格式】这一段不是英语：输出两行，第一行中文译文，第二行以“EN: ”开头的英文译文。");
    QCOMPARE(rig.server.at(0).lastUser().contains(formatLine), language == SpeechLanguage::other);
    rig.server.reply(0, pieces);
    QTRY_VERIFY(!rig.starting("finish").isEmpty());
    QCOMPARE(rig.events.mid(2), expected);
    QCOMPARE(rig.translator.context().value(0).alt, contextAlt);
}

void TranslatorTest::liveRequestCarriesStableMemoryAndHints()
{
    // The live request carries the meeting's stable memory (the same for every sentence, so the
    // service can reuse the cached prompt), never the per-sentence memory of background work;
    // the sentence's own hints go into the reference block, before the text to translate.
    Rig rig;
    QStringList hintedSentences;
    rig.translator.memory = [](const QString &sentence) { return QStringLiteral("\n\n【逐句记忆】") + sentence; };
    rig.translator.stableMemory = [] { return QStringLiteral("\n\n【会议背景】心血管会议"); };
    rig.translator.sentenceHints = [&hintedSentences](const QString &sentence) {
        hintedSentences.append(sentence);
        return QStringLiteral("  stent → 支架\n");
    };
    rig.enqueue(QStringLiteral("The stent works."), SpeechLanguage::english);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    const QString system = rig.server.at(0).system();
    QVERIFY2(system.endsWith(QStringLiteral("\n\n【会议背景】心血管会议")), qPrintable(system.right(80)));
    QVERIFY(!system.contains(QStringLiteral("【逐句记忆】")));
    QCOMPARE(hintedSentences, QStringList{QStringLiteral("The stent works.")});
    QCOMPARE(rig.server.at(0).lastUser(),
             QStringLiteral("【本句参考】（只用于这一句，不要翻译）\nstent → 支架\n\n【请翻译这一段】The stent works."));
    rig.server.reply(0, {QStringLiteral("支架有效。")});
    QTRY_VERIFY(!rig.starting("finish").isEmpty());
}

void TranslatorTest::contextGrowsAndIsCut()
{
    Rig rig;
    rig.server.onRequest = [&rig](int i) { rig.server.reply(i, {QStringLiteral("译文%1").arg(i)}); };
    for (int i = 0; i < 23; ++i)
        rig.enqueue(QStringLiteral("Sentence %1.").arg(i), SpeechLanguage::english, true);
    rig.translator.pump();
    QTRY_COMPARE(rig.starting("finish").size(), 23);

    // Context seen by each begin: it grows to 20, and the 21st pair cuts it to the last 10.
    QList<int> expected;
    for (int i = 0; i <= 20; ++i)
        expected << i;
    expected << 10 << 11;
    QCOMPARE(rig.contextAtBegin, expected);
    QCOMPARE(rig.translator.context().size(), 12);
    QCOMPARE(rig.translator.context().first().english, QStringLiteral("Sentence 11."));
    QCOMPARE(rig.translator.context().last().chinese, QStringLiteral("译文22"));
    // Each request carries the history as user/assistant turns.
    QCOMPARE(rig.server.at(20).roles().size(), 1 + 2 * 20 + 1);
    QCOMPARE(rig.server.at(21).roles().size(), 1 + 2 * 10 + 1);
}

void TranslatorTest::historyFollowsDirection()
{
    Rig rig;
    rig.server.onRequest = [&rig](int i) {
        rig.server.reply(i, {i == 1 ? QStringLiteral("校对：你好世界\nHello world.") : QStringLiteral("好")});
    };
    rig.enqueue(QStringLiteral("First."), SpeechLanguage::english, true);
    rig.enqueue(QStringLiteral("你好世界。"), SpeechLanguage::chinese, true);
    rig.enqueue(QStringLiteral("Second."), SpeechLanguage::english, true);
    rig.enqueue(QStringLiteral("再见。"), SpeechLanguage::chinese, true);
    rig.translator.pump();
    QTRY_COMPARE(rig.starting("finish").size(), 4);
    QCOMPARE(rig.server.at(2).roles().size(), 1 + 2 + 1); // only "First."
    QCOMPARE(rig.server.at(3).roles().size(), 1 + 2 + 1); // only the Chinese pair
    const QJsonArray messages = rig.server.at(3).json.value("messages").toArray();
    QCOMPARE(messages.at(1).toObject().value("content").toString(), QStringLiteral("你好世界"));
    QCOMPARE(messages.at(2).toObject().value("content").toString(),
             QStringLiteral("校对：你好世界\nHello world."));
}

void TranslatorTest::retryAfterFailure_data()
{
    QTest::addColumn<QString>("first");  // "drop", "500" or "text-then-drop"
    QTest::addColumn<QString>("second"); // "ok", "drop", "none"
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("retry succeeds") << "drop" << "ok"
                                    << QStringList{"latency 0 0", "append 100 好的", "finish 100 ok", "begin 101 Next. [turn]"};
    QTest::newRow("server error then success") << "500" << "ok"
                                               << QStringList{"latency 0 0", "append 100 好的", "finish 100 ok", "begin 101 Next. [turn]"};
    QTest::newRow("two failures") << "drop" << "drop" << QStringList{"finish 100 failed", "begin 101 Next. [turn]"};
    QTest::newRow("text shown before the failure: no retry")
        << "text-then-drop" << "none" << QStringList{"latency 0 0", "append 100 部分", "finish 100 ok", "begin 101 Next. [turn]"};
}

void TranslatorTest::retryAfterFailure()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QStringList, expected);

    Rig rig;
    rig.enqueue(QStringLiteral("Hello."), SpeechLanguage::english);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    rig.enqueue(QStringLiteral("Next."), SpeechLanguage::english, true);
    if (first == "drop") {
        rig.server.drop(0);
    } else if (first == "500") {
        rig.server.fail(0, 500);
    } else {
        rig.server.delta(0, QStringLiteral("部分"));
        QTRY_VERIFY(rig.has("append 100 部分"));
        rig.server.drop(0);
    }
    if (second != "none") {
        // The failure travels through the network thread before the retry goes out: slow on a
        // busy machine, so the wait is generous (it ends as soon as the retry arrives).
        QTRY_COMPARE_WITH_TIMEOUT(rig.server.count(), 2, 15000);
        // On a mismatch, which members differ, and the last message of each: QCOMPARE (and a
        // long message) would cut the bodies short.
        const auto differences = [&rig] {
            const QJsonObject a = rig.server.at(0).json;
            const QJsonObject b = rig.server.at(1).json;
            QStringList out;
            for (const QString &key : a.keys() + b.keys()) {
                if (a.value(key) != b.value(key) && !out.contains(key))
                    out.append(key);
            }
            return out.join(u',') + QStringLiteral(" | ") + rig.server.at(0).lastUser()
                + QStringLiteral(" | ") + rig.server.at(1).lastUser() + QStringLiteral(" | ")
                + rig.events.join(QStringLiteral(" / "));
        };
        QVERIFY2(rig.server.at(1).json == rig.server.at(0).json, qPrintable(differences()));
        if (second == "ok")
            rig.server.reply(1, {QStringLiteral("好的")});
        else
            rig.server.drop(1);
    }
    QTRY_VERIFY2(rig.has("begin 101 Next. [turn]"), qPrintable(rig.events.join(" / ") + QString::number(rig.server.count())));
    QCOMPARE(rig.events.mid(2, expected.size()), expected);
    // The next batch is a new request; nothing else retried.
    QTRY_COMPARE(rig.server.count(), second == "none" ? 2 : 3);
}

void TranslatorTest::retryStartsFromEmptyHead()
{
    Rig rig;
    rig.enqueue(QStringLiteral("我们今天讨论预算"), SpeechLanguage::chinese);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    // The first attempt breaks off inside the head line.
    rig.server.delta(0, QStringLiteral("校对：我们今"));
    rig.server.drop(0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.server.count(), 2, 15000); // see retryAfterFailure
    rig.server.reply(1, {QStringLiteral("校对：我们今天讨论欲算\n"), QStringLiteral("We discuss the budget.")});
    QTRY_VERIFY(!rig.starting("finish").isEmpty());
    QCOMPARE(rig.events.mid(2), (QStringList{"corrected 100 我们今天讨论欲算", "latency 0 0",
                                                 "append 100 We discuss the budget.", "finish 100 ok"}));
}

void TranslatorTest::fatalFailureKeepsQueuedSpeech()
{
    Rig rig;
    rig.enqueue(QStringLiteral("Hello."), SpeechLanguage::english);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    rig.enqueue(QStringLiteral("Second."), SpeechLanguage::english, true);
    rig.enqueue(QStringLiteral("第三句。"), SpeechLanguage::chinese, false);
    rig.translator.recheck(Translator::BackfillItem(7, QStringLiteral("Old line."), {}), QStringLiteral("hint"));
    QTRY_COMPARE(rig.server.count(), 2);
    rig.translator.recheck(Translator::BackfillItem(8, QStringLiteral("Older."), {}), QStringLiteral("h"));
    rig.translator.recheck(Translator::BackfillItem(9, QStringLiteral("Oldest."), {}), QStringLiteral("h"));
    QTRY_COMPARE(rig.server.count(), 3);
    QCOMPARE(rig.translator.backfillItems().size(), 1);

    rig.server.fail(0, 401);
    QTRY_VERIFY(!rig.starting("fatal").isEmpty());
    // The failed line is finished, and the speech still waiting becomes lines of its own.
    QCOMPARE(rig.events.mid(2), (QStringList{
        "finish 100 failed",
        "begin 101 Second. [turn]", "language 101 en", "finish 101 failed",
        "begin 102 第三句。", "language 102 zh", "finish 102 failed",
        "fatal DeepSeek 密钥无效，请在设置里重新填写。"}));
    QVERIFY(rig.translator.queue.isEmpty());
    QVERIFY(rig.translator.backfillItems().isEmpty());
    QVERIFY(!rig.translator.running());
    QCOMPARE(rig.server.count(), 3);
}

void TranslatorTest::missingKeyKeepsQueuedSpeech()
{
    QVERIFY(Keychain::set(QString(), Keychain::deepSeekAccount));
    Rig rig;
    rig.enqueue(QStringLiteral("One"), SpeechLanguage::english, true);
    rig.enqueue(QStringLiteral("two."), SpeechLanguage::english);
    rig.enqueue(QStringLiteral("三。"), SpeechLanguage::chinese);
    rig.translator.pump();
    QCOMPARE(rig.events, (QStringList{
        "begin 100 One [turn]", "language 100 en", "finish 100 failed",
        "begin 101 two.", "language 101 en", "finish 101 failed",
        "begin 102 三。", "language 102 zh", "finish 102 failed",
        "fatal 请先在设置里填写 DeepSeek 密钥。"}));
    QVERIFY(rig.translator.queue.isEmpty());
    QVERIFY(!rig.translator.running());

    // Background work without a key is dropped silently.
    rig.translator.correct(Translator::BackfillItem(3, QStringLiteral("你好"), {}));
    QVERIFY(rig.translator.backfillItems().isEmpty());
    QCOMPARE(rig.events.size(), 10);
    QTest::qWait(50);
    QCOMPARE(rig.server.count(), 0);
}

void TranslatorTest::slowKeyringIsWaitedFor_data()
{
    QTest::addColumn<bool>("stored");
    QTest::newRow("key stored") << true;
    QTest::newRow("no key stored") << false;
}

void TranslatorTest::slowKeyringIsWaitedFor()
{
    QFETCH(bool, stored);
    // The user's own prompt is past, so the main thread gives up on the keyring after a moment.
    QCOMPARE(Keychain::get(QStringLiteral("probe-") + QUuid::createUuid().toString()), std::nullopt);
    Keychain::mainThreadWaitMs = 50;
    auto answer = std::make_shared<QSemaphore>();
    Keychain::readItem = [answer, stored](const QString &, const QString &) {
        // The keyring answers when the test lets it (or, without the bound, after 20 s).
        if (!answer->tryAcquire(1, 20000))
            return SecretStore::Reading{};
        return stored ? SecretStore::Reading{SecretStore::Reading::Status::found, "sk-slow"}
                      : SecretStore::Reading{SecretStore::Reading::Status::notFound, {}};
    };
    const auto restore = qScopeGuard([answer] {
        // The query's thread calls the fake: let it end before the fake goes.
        answer->release();
        Keychain::mainThreadWaitMs = 2000;
        Keychain::get(Keychain::deepSeekAccount);
        Keychain::readItem = &SecretStore::read;
        Keychain::forget(Keychain::deepSeekAccount);
    });
    Keychain::forget(Keychain::deepSeekAccount);

    Rig rig;
    rig.enqueue(QStringLiteral("Hello there."), SpeechLanguage::english, true);
    rig.translator.pump();
    rig.translator.correct(Translator::BackfillItem(3, QStringLiteral("你好"), {}));
    QVERIFY(Keychain::waiting(Keychain::deepSeekAccount));
    // Longer than the main thread's give-up and several retries: still waiting, nothing said.
    QTest::qWait(4 * Translator::keyRetryMs);
    QCOMPARE(rig.events, QStringList());
    QCOMPARE(rig.translator.queue.size(), 1);
    QCOMPARE(rig.translator.backfillItems().size(), 1);
    QVERIFY(!rig.translator.running());

    answer->release();
    if (stored) {
        QTRY_COMPARE(rig.server.count(), 2);
        QVERIFY(rig.translator.queue.isEmpty());
        QCOMPARE(rig.events.mid(0, 2), (QStringList{"begin 100 Hello there. [turn]", "language 100 en"}));
        QVERIFY(rig.starting("fatal").isEmpty());
    } else {
        QTRY_VERIFY(!rig.starting("fatal").isEmpty());
        QCOMPARE(rig.events, (QStringList{
            "begin 100 Hello there. [turn]", "language 100 en", "finish 100 failed",
            "fatal 请先在设置里填写 DeepSeek 密钥。"}));
        QVERIFY(rig.translator.backfillItems().isEmpty());
        QCOMPARE(rig.server.count(), 0);
    }
}

// As at a launch: the keys are being read on the keyring's own thread when the first speech
// comes, and the main thread keeps the app's own limit on how long it would wait for an answer.
// Speech waits for the key without the main thread waiting with it.
void TranslatorTest::slowKeyringLeavesMainThreadFree()
{
    // The user's own prompt is past, so the main thread would give up only after its usual wait.
    QCOMPARE(Keychain::get(QStringLiteral("probe-") + QUuid::createUuid().toString()), std::nullopt);
    enum Verdict { pending, served, blocked };
    auto verdict = std::make_shared<std::atomic_int>(pending);
    auto answer = std::make_shared<QSemaphore>();
    Keychain::readItem = [verdict, answer](const QString &, const QString &) {
        // An event posted to the main thread while the keyring is slow is handled well within
        // the main thread's own wait for the keyring, unless that wait is what it is doing.
        auto handled = std::make_shared<QSemaphore>();
        QMetaObject::invokeMethod(qApp, [handled] { handled->release(); }, Qt::QueuedConnection);
        verdict->store(handled->tryAcquire(1, Keychain::mainThreadWaitMs / 2) ? served : blocked);
        // The keyring answers when the test lets it (or, without the bound, after 20 s).
        if (!answer->tryAcquire(1, 20000))
            return SecretStore::Reading{};
        return SecretStore::Reading{SecretStore::Reading::Status::found, "sk-slow"};
    };
    const auto restore = qScopeGuard([answer] {
        // The query's thread calls the fake: let it end before the fake goes.
        answer->release();
        Keychain::get(Keychain::deepSeekAccount);
        Keychain::readItem = &SecretStore::read;
        Keychain::forget(Keychain::deepSeekAccount);
    });
    Keychain::forget(Keychain::deepSeekAccount);
    Keychain::prefetch({Keychain::deepSeekAccount});
    QVERIFY(Keychain::waiting(Keychain::deepSeekAccount));

    Rig rig;
    rig.enqueue(QStringLiteral("Hello there."), SpeechLanguage::english, true);
    rig.translator.pump();
    QTRY_VERIFY(verdict->load() != pending);
    QVERIFY2(verdict->load() == served, "the main thread handled no event while the keyring was slow");
    QCOMPARE(rig.events, QStringList());
    QCOMPARE(rig.translator.queue.size(), 1);

    answer->release();
    QTRY_COMPARE(rig.server.count(), 1);
    QCOMPARE(rig.server.at(0).lastUser(), QStringLiteral("Hello there."));
    QCOMPARE(rig.events, (QStringList{"begin 100 Hello there. [turn]", "language 100 en"}));
}

void TranslatorTest::resetSilencesOldRequest()
{
    Rig rig;
    rig.enqueue(QStringLiteral("Old meeting."), SpeechLanguage::english);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    rig.server.delta(0, QStringLiteral("旧的"));
    QTRY_VERIFY(rig.has("append 100 旧的"));
    rig.translator.recheck(Translator::BackfillItem(5, QStringLiteral("Old line."), {}), QStringLiteral("h"));
    QTRY_COMPARE(rig.server.count(), 2);

    const int before = rig.translator.generation();
    rig.translator.reset();
    QCOMPARE(rig.translator.generation(), before + 1);
    QVERIFY(!rig.translator.running());
    QVERIFY(rig.translator.context().isEmpty());
    QVERIFY(rig.translator.backfillInFlight().isEmpty());
    const QStringList seen = rig.events;

    // The new meeting's request runs while the old ones still deliver.
    rig.enqueue(QStringLiteral("New meeting."), SpeechLanguage::english);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 3);
    rig.server.delta(0, QStringLiteral("迟到的"));
    rig.server.finish(0);
    rig.server.reply(1, {QStringLiteral("迟到的重译")});
    rig.server.reply(2, {QStringLiteral("新的")});
    QTRY_VERIFY(rig.has("finish 101 ok"));
    QTest::qWait(50);
    const QStringList fresh{"begin 101 New meeting.", "language 101 en", "latency 0 0", "append 101 新的",
                            "finish 101 ok"};
    QCOMPARE(rig.events, seen + fresh);
    QCOMPARE(rig.translator.context(), (QList<DeepSeek::Pair>{{"New meeting.", "新的", ""}}));
}

void TranslatorTest::resetDropsHeldHead()
{
    Rig rig;
    rig.enqueue(QStringLiteral("我们今天讨论预算"), SpeechLanguage::chinese);
    rig.translator.pump();
    QTRY_COMPARE(rig.server.count(), 1);
    rig.server.delta(0, QStringLiteral("校对：我们今天讨论欲算"));
    QTest::qWait(20);
    rig.translator.reset();
    rig.server.finish(0);
    QTest::qWait(50);
    QCOMPARE(rig.events, (QStringList{"begin 100 我们今天讨论预算", "language 100 zh"}));
}

void TranslatorTest::queueAccess()
{
    Translator translator(DeepSeekTransport::streamer({}));
    QCOMPARE(translator.queuedText(), QString());
    translator.queue.append({QStringLiteral("Hello"), false, 0, SpeechLanguage::english});
    translator.queue.append({QStringLiteral("世界"), false, 0, SpeechLanguage::chinese});
    translator.queue.append({QStringLiteral("again"), false, 0, SpeechLanguage::english});
    QCOMPARE(translator.queuedText(), QStringLiteral("Hello世界again"));
    QCOMPARE(translator.drainQueue(), (QStringList{"Hello", "世界", "again"}));
    QVERIFY(translator.queue.isEmpty());
}

void TranslatorTest::plausibleCorrection_data()
{
    QTest::addColumn<QString>("corrected");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("expected");
    QTest::newRow("same length") << "人工智能" << "人工只能" << true;
    QTest::newRow("unchanged") << "人工智能" << "人工智能" << false;
    QTest::newRow("empty") << "" << "人工只能" << false;
    QTest::newRow("english") << "artificial" << "人工只能" << false;
    QTest::newRow("0.6 kept") << "一二三" << "一二三四五" << true;
    QTest::newRow("below 0.6") << "一二" << "一二三四" << false;
    QTest::newRow("1.5 kept") << "一二三四五六" << "一二三四" << true;
    QTest::newRow("above 1.5") << "一二三四五六七" << "一二三四" << false;
    QTest::newRow("empty source counts as 1") << "好" << "" << true;
}

void TranslatorTest::plausibleCorrection()
{
    QFETCH(QString, corrected);
    QFETCH(QString, source);
    QTEST(Translator::plausibleCorrection(corrected, source), "expected");
}

void TranslatorTest::mayBeCorrectionHead_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("white space") << " \n\t" << true;
    QTest::newRow("first character") << "\n 校" << true;
    QTest::newRow("label without colon") << "校对" << true;
    QTest::newRow("ascii colon") << "校对:我" << true;
    QTest::newRow("full label") << "校对：我们" << true;
    QTest::newRow("399 characters") << "校对：" + QString(396, u'字') << true;
    QTest::newRow("400 characters") << "校对：" + QString(397, u'字') << false;
    QTest::newRow("other text") << "We" << false;
    QTest::newRow("label with blank") << "校对 :" << false;
}

void TranslatorTest::mayBeCorrectionHead()
{
    QFETCH(QString, text);
    QTEST(Translator::mayBeCorrectionHead(text), "expected");
}

void TranslatorTest::usefulAlternate_data()
{
    QTest::addColumn<QString>("alternate");
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("expected");
    QTest::newRow("different") << "Hello everyone" << "Bonjour tout le monde" << true;
    QTest::newRow("same letters") << "Hello, EVERYONE!" << "hello everyone" << false;
    QTest::newRow("both without letters") << "..." << "!!" << false;
}

void TranslatorTest::usefulAlternate()
{
    QFETCH(QString, alternate);
    QFETCH(QString, source);
    QTEST(Translator::usefulAlternate(alternate, source), "expected");
}

DODEDAROV_TEST(TranslatorTest)
#include "TranslatorTest.moc"
