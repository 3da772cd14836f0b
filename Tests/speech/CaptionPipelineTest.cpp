#include "TestMain.h"

#include "speech/CaptionPipeline.h"
#include "speech/PipelineScript.h"

namespace {

std::optional<SpeechLanguage> rawLanguageNamed(const QString &name)
{
    if (name == u"english")
        return SpeechLanguage::english;
    if (name == u"chinese")
        return SpeechLanguage::chinese;
    return std::nullopt;
}

}

class CaptionPipelineTest final : public QObject {
    Q_OBJECT

private slots:
    void init() { Segmenter::interpreterMode = true; }
    void cleanup() { Segmenter::interpreterMode = false; }

    void roads_data();
    void roads();
    void startsOnTheRoadOfItsRawLanguage();
    void shortForeignTailIsWithheldFromPartials();
    void japaneseKeepsItsIdeographs_data();
    void japaneseKeepsItsIdeographs();
    void pendingEnglish();
};

void CaptionPipelineTest::roads_data()
{
    QTest::addColumn<QString>("rawLanguage");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("outputs");

    QTest::newRow("raw chinese: a short run waits, then words pass through as they settle")
        << u"chinese"_qs
        << QStringList{u"p 1.0 我们"_qs, u"p 1.1 我们今"_qs, u"p 1.2 我们今天"_qs, u"p 1.3 我们今天开"_qs,
                       u"p 1.4 我们今天开会"_qs, u"p 1.5 我们今天开会了"_qs, u"c 1.6 我们今天开会了。"_qs}
        << QStringList{u"5: english: 我们今天"_qs, u"6: english: 开"_qs, u"7: english: 会了。"_qs,
                       u"7: closeEnglish"_qs};

    QTest::newRow("raw english: the line stays open until a sentence ends")
        << u"english"_qs
        << QStringList{u"p 1.0 Good morning"_qs, u"p 1.2 Good morning everyone"_qs,
                       u"p 1.4 Good morning everyone and"_qs, u"p 1.6 Good morning everyone and welcome"_qs,
                       u"c 1.8 Good morning everyone and welcome"_qs, u"c 3.0 to the show."_qs}
        << QStringList{u"3: english: Good morning"_qs, u"4: english: everyone"_qs,
                       u"5: english: and welcome"_qs, u"6: english: to the show."_qs, u"6: closeEnglish"_qs};

    QTest::newRow("raw english: flush closes an open line")
        << u"english"_qs << QStringList{u"c 1.0 and so"_qs, u"t 30"_qs, u"f"_qs}
        << QStringList{u"1: english: and so"_qs, u"3: closeEnglish"_qs};

    QTest::newRow("raw english: flush always closes, even when nothing was shown")
        << u"english"_qs << QStringList{u"f"_qs, u"f"_qs}
        << QStringList{u"1: closeEnglish"_qs, u"2: closeEnglish"_qs};

    QTest::newRow("raw english: a commit with nothing open still closes")
        << u"english"_qs << QStringList{u"c 1.0 Hello."_qs, u"c 2.0 …"_qs, u"c 3.0 and so"_qs, u"c 4.0 …"_qs}
        << QStringList{u"1: english: Hello."_qs, u"1: closeEnglish"_qs, u"2: closeEnglish"_qs,
                       u"3: english: and so"_qs};

    QTest::newRow("raw english: a commit of shown words keeps the line open")
        << u"english"_qs
        << QStringList{u"p 1.0 we will go now"_qs, u"p 1.1 we will go now"_qs, u"p 1.2 we will go now"_qs,
                       u"c 1.3 we will go"_qs, u"c 2.0 home."_qs}
        << QStringList{u"3: english: we will go"_qs, u"5: english: home."_qs, u"5: closeEnglish"_qs};

    QTest::newRow("raw english: flush starts the next segment afresh")
        << u"english"_qs
        << QStringList{u"p 1.0 one two three"_qs, u"p 1.1 one two three"_qs, u"p 1.2 one two three"_qs, u"f"_qs,
                       u"p 2.0 four five six"_qs, u"p 2.1 four five six"_qs, u"p 2.2 four five six"_qs}
        << QStringList{u"3: english: one two"_qs, u"4: closeEnglish"_qs, u"7: english: four five"_qs};

    QTest::newRow("translation: flush starts the next segment afresh")
        << u""_qs
        << QStringList{u"p 1.0 We agree. Then we"_qs, u"p 1.1 We agree. Then we"_qs, u"p 1.2 We agree. Then we"_qs,
                       u"f"_qs, u"p 2.0 Yes. Sure thing"_qs, u"p 2.1 Yes. Sure thing"_qs, u"p 2.2 Yes. Sure thing"_qs}
        << QStringList{u"3: translate: We agree."_qs, u"7: translate: Yes."_qs};

    QTest::newRow("translation: flush gives the carry or nothing, ticks release it")
        << u""_qs << QStringList{u"f"_qs, u"c 1.0 we went to the"_qs, u"t 3.4"_qs, u"t 3.6"_qs, u"f"_qs}
        << QStringList{u"4: translate: we went to the"_qs};

    QTest::newRow("display both: chinese speech closes the english part at once")
        << u""_qs
        << QStringList{u"p 1.0 We will review the budget"_qs, u"p 1.2 We will review the budget 我们"_qs,
                       u"p 1.4 We will review the budget 我们今天"_qs,
                       u"p 1.6 We will review the budget 我们今天讨论预算。"_qs,
                       u"c 1.8 We will review the budget 我们今天讨论预算。"_qs}
        << QStringList{u"3: translate: We will review the budget"_qs, u"5: translate: 我们今天讨论预算。"_qs};

    const QStringList chineseFirst{u"p 1.0 我们开始吧。今天"_qs, u"p 1.1 我们开始吧。今天"_qs,
                                   u"p 1.2 我们开始吧。今天"_qs};
    QTest::newRow("commit: one english word stays in the chinese part")
        << u"english"_qs << chineseFirst + QStringList{u"c 1.3 我们开始吧。 Apple"_qs, u"f"_qs}
        << QStringList{u"1: closeEnglish"_qs, u"3: translate: 我们开始吧。"_qs, u"5: translate: Apple"_qs};
    QTest::newRow("commit: two english words switch once the chinese was handed on")
        << u"english"_qs << chineseFirst + QStringList{u"c 1.3 我们开始吧。 Apple Watch"_qs, u"f"_qs}
        << QStringList{u"1: closeEnglish"_qs, u"3: translate: 我们开始吧。"_qs, u"4: english: Apple Watch"_qs,
                       u"5: closeEnglish"_qs};
    QTest::newRow("commit: two english words wait while chinese is not handed on")
        << u"english"_qs << chineseFirst + QStringList{u"c 1.3 我们开始吧。今天 Apple Watch"_qs, u"f"_qs}
        << QStringList{u"1: closeEnglish"_qs, u"3: translate: 我们开始吧。"_qs,
                       u"5: translate: 今天Apple Watch"_qs};

    // Japanese absorbs the ideographs before it, so its run reaches back over words already shown.
    QTest::newRow("switch: words shown before the switch are not handed on again")
        << u"chinese"_qs
        << QStringList{u"p 1.0 我们今天开会"_qs, u"p 1.1 我们今天开会"_qs, u"p 1.2 我们今天开会"_qs,
                       u"p 1.3 我们今天开会ですね"_qs, u"c 1.4 我们今天开会ですね。"_qs}
        << QStringList{u"3: english: 我们今天开"_qs, u"4: closeEnglish"_qs, u"5: translate: 会ですね。"_qs};

    QTest::newRow("raw chinese: english speech moves to translation")
        << u"chinese"_qs
        << QStringList{u"p 1.0 我们今天开会"_qs, u"p 1.1 我们今天开会"_qs, u"p 1.2 我们今天开会"_qs,
                       u"p 1.3 我们今天开会 let us begin now"_qs, u"c 1.4 我们今天开会 let us begin now."_qs}
        << QStringList{u"3: english: 我们今天开"_qs, u"4: english: 会"_qs, u"4: closeEnglish"_qs,
                       u"5: translate: let us begin now."_qs};

    QTest::newRow("turn: confirmed by the next partial")
        << u""_qs
        << QStringList{u"p 1.0 Hello there my friend | A A A A"_qs,
                       u"p 1.2 Hello there my friend how are you | A A A A B B B"_qs,
                       u"p 1.4 Hello there my friend how are you | A A A A B B B"_qs,
                       u"c 1.6 Hello there my friend how are you"_qs, u"f"_qs}
        << QStringList{u"3: translate: Hello there my friend"_qs, u"3: turn"_qs, u"5: translate: how are you"_qs};

    QTest::newRow("turn: words from a change seen once are held")
        << u""_qs
        << QStringList{u"p 1.0 We agree. Then we go. Sure thing | A A A A A A A"_qs,
                       u"p 1.1 We agree. Then we go. Sure thing | A A A A A A A"_qs,
                       u"p 1.2 We agree. Then we go. Sure thing | A A B B B B B"_qs,
                       u"p 1.3 We agree. Then we go. Sure thing | A A B B B B B"_qs}
        << QStringList{u"3: translate: We agree."_qs, u"4: turn"_qs};

    QTest::newRow("turn: first seen in the last partial, made at the commit")
        << u""_qs
        << QStringList{u"p 1.0 Hello there how are you | A A B B B"_qs, u"p 1.1"_qs,
                       u"c 1.2 Hello there how are you"_qs, u"f"_qs}
        << QStringList{u"3: translate: Hello there"_qs, u"3: turn"_qs, u"4: translate: how are you"_qs};

    QTest::newRow("turn: none without labels")
        << u""_qs
        << QStringList{u"p 1.0 Hello there how are you"_qs, u"p 1.1 Hello there how are you"_qs,
                       u"c 1.2 Hello there how are you"_qs, u"f"_qs}
        << QStringList{u"4: translate: Hello there how are you"_qs};

    QTest::newRow("turn: a change at the last word is not confirmed")
        << u""_qs
        << QStringList{u"p 1.0 Hello there | A B"_qs, u"p 1.1 Hello there | A B"_qs,
                       u"p 1.2 Hello there friend | A B B"_qs}
        << QStringList{u"3: translate: Hello"_qs, u"3: turn"_qs};

    QTest::newRow("turn: a label that moves is not confirmed")
        << u""_qs
        << QStringList{u"p 1.0 one two three four five | A A A B B"_qs,
                       u"p 1.1 one two three four five | A A B B B"_qs,
                       u"p 1.2 one two three four five | A A B B B"_qs}
        << QStringList{u"3: translate: one two"_qs, u"3: turn"_qs};

    QTest::newRow("turn: revised words are not confirmed")
        << u""_qs
        << QStringList{u"p 1.0 one two three four | A A B B"_qs, u"p 1.1 one too three four | A A B B"_qs,
                       u"p 1.2 one too three four | A A B B"_qs}
        << QStringList{u"3: translate: one too"_qs, u"3: turn"_qs};

    QTest::newRow("turn: the held carry of the previous speaker goes first")
        << u""_qs
        << QStringList{u"p 1.0 Thanks everyone | A A"_qs, u"c 1.1 Thanks everyone"_qs,
                       u"p 1.5 Right so | B B"_qs, u"p 1.6 Right so | B B"_qs,
                       u"p 1.7 Right so we begin | B B B B"_qs}
        << QStringList{u"4: translate: Thanks everyone"_qs, u"4: turn"_qs};

    QTest::newRow("turn: the same speaker in the next segment is no turn")
        << u""_qs
        << QStringList{u"p 1.0 Thanks everyone | A A"_qs, u"c 1.1 Thanks everyone"_qs,
                       u"p 1.5 and welcome | A A"_qs, u"p 1.6 and welcome | A A"_qs, u"f"_qs}
        << QStringList{u"5: translate: Thanks everyone"_qs};

    QTest::newRow("turn: words already handed on stay with the first speaker")
        << u""_qs
        << QStringList{u"p 1.0 We agree. Next we go | - - - - -"_qs, u"p 1.1 We agree. Next we go | - - - - -"_qs,
                       u"p 1.2 We agree. Next we go | - - - - -"_qs, u"p 1.3 We agree. Next we go | A B B B B"_qs,
                       u"p 1.4 We agree. Next we go | A B B B B"_qs, u"c 1.5 We agree. Next we go"_qs, u"f"_qs}
        << QStringList{u"3: translate: We agree."_qs, u"5: turn"_qs, u"7: translate: Next we go"_qs};

    QTest::newRow("turn: labels of an earlier segment are not reused")
        << u""_qs
        << QStringList{u"p 1.0 one two three four | A A B B"_qs, u"c 1.1 one two three four"_qs,
                       u"c 2.0 five six seven eight."_qs}
        << QStringList{u"2: translate: one two"_qs, u"2: turn"_qs,
                       u"3: translate: three four five six seven eight."_qs};

    QTest::newRow("turn: labels inside words already handed on make no further turn")
        << u""_qs
        << QStringList{u"p 1.0 One. Two. Three. Four. five six"_qs, u"p 1.1 One. Two. Three. Four. five six"_qs,
                       u"p 1.2 One. Two. Three. Four. five six"_qs,
                       u"p 1.3 One. Two. Three. Four. five six | A B A B B B"_qs,
                       u"p 1.4 One. Two. Three. Four. five six | A B A B B B"_qs}
        << QStringList{u"3: translate: One. Two. Three. Four."_qs, u"5: turn"_qs};

    QTest::newRow("turn: labels that do not match the words are ignored")
        << u""_qs
        << QStringList{u"p 1.0 Hello there how are you | A A B"_qs, u"p 1.1 Hello there how are you | A A B B B"_qs,
                       u"c 1.2 Hello there how are you today"_qs, u"f"_qs}
        << QStringList{u"4: translate: Hello there how are you today"_qs};

    // The labels of the last partial stand for the commit only while they still fit its words.
    QTest::newRow("turn: a commit shorter than the last partial does not reuse its labels")
        << u""_qs << QStringList{u"p 1.0 Hello there how are you | A A B B B"_qs, u"c 1.1 Hello there how"_qs, u"f"_qs}
        << QStringList{u"3: translate: Hello there how"_qs};
    QTest::newRow("turn: a partial without labels forgets the earlier ones")
        << u""_qs
        << QStringList{u"p 1.0 Hello there how are you | A A B B B"_qs, u"p 1.1 Hello there how are you"_qs,
                       u"c 1.2 Hello there how are you"_qs, u"f"_qs}
        << QStringList{u"4: translate: Hello there how are you"_qs};
    QTest::newRow("turn: a flush forgets the labels")
        << u""_qs
        << QStringList{u"p 1.0 Hello there how are you | A A B B B"_qs, u"f"_qs, u"c 1.2 Hello there how are you"_qs,
                       u"f"_qs}
        << QStringList{u"4: translate: Hello there how are you"_qs};

    const QString agreed = u"We agree. Then we go home now."_qs;
    const QString unknownLabels = u" | A A - - - - -"_qs;
    const QString later = agreed + u" And then | A A - - - - - - -"_qs;
    QTest::newRow("unknown speaker: words are held for two seconds")
        << u""_qs
        << QStringList{u"p 1.0 "_qs + agreed + unknownLabels, u"p 1.1 "_qs + agreed + unknownLabels,
                       u"p 1.2 "_qs + agreed + unknownLabels, u"p 2.5 "_qs + later, u"p 2.6 "_qs + later,
                       u"p 2.7 "_qs + later, u"p 3.1 "_qs + later, u"p 3.2 "_qs + later, u"p 3.3 "_qs + later}
        << QStringList{u"3: translate: We agree."_qs, u"9: translate: Then we go home now."_qs};

    QTest::newRow("unknown speaker: one word of look-ahead on the raw road")
        << u"english"_qs
        << QStringList{u"p 1.0 one two three four five | A A - - -"_qs,
                       u"p 1.1 one two three four five | A A - - -"_qs,
                       u"p 1.2 one two three four five | A A - - -"_qs,
                       u"p 3.5 one two three four five | A A - - -"_qs}
        << QStringList{u"3: english: one two"_qs, u"4: english: three"_qs};

    QTest::newRow("unknown speaker: the wait starts afresh in each segment")
        << u"english"_qs
        << QStringList{u"p 1.0 one two three four | A A - -"_qs, u"p 1.1 one two three four | A A - -"_qs,
                       u"p 1.2 one two three four | A A - -"_qs, u"p 3.5 one two three four | A A - -"_qs,
                       u"c 3.6 one two three four."_qs, u"p 5.0 five six seven eight | A A - -"_qs,
                       u"p 5.1 five six seven eight | A A - -"_qs, u"p 5.2 five six seven eight | A A - -"_qs}
        << QStringList{u"3: english: one two"_qs, u"4: english: three"_qs, u"5: english: four."_qs,
                       u"5: closeEnglish"_qs, u"8: english: five six"_qs};

    QTest::newRow("unknown speaker: once speakers were told apart, unlabelled words wait too")
        << u"english"_qs
        << QStringList{u"p 1.0 one two three four | A A A A"_qs, u"p 1.1 one two three four | - - - -"_qs,
                       u"p 1.2 one two three four | - - - -"_qs, u"p 1.3 one two three four | - - - -"_qs,
                       u"p 3.2 one two three four | - - - -"_qs}
        << QStringList{u"5: english: one"_qs};

    QTest::newRow("turn on the raw road closes the raw line")
        << u"english"_qs
        << QStringList{u"p 1.0 Good morning all | A A A"_qs, u"p 1.1 Good morning all | A A A"_qs,
                       u"p 1.2 Good morning all | A A A"_qs,
                       u"p 1.3 Good morning all thanks Anna | A A A B B"_qs,
                       u"p 1.4 Good morning all thanks Anna | A A A B B"_qs,
                       u"c 1.5 Good morning all thanks Anna."_qs}
        << QStringList{u"3: english: Good morning"_qs, u"4: english: all"_qs, u"5: closeEnglish"_qs,
                       u"5: turn"_qs, u"6: english: thanks Anna."_qs, u"6: closeEnglish"_qs};

    QTest::newRow("dots and dashes are not words")
        << u"english"_qs << QStringList{u"c 1.0 … so-- we . -- …and go."_qs}
        << QStringList{u"1: english: so we and go."_qs, u"1: closeEnglish"_qs};

    QTest::newRow("empty partial changes nothing")
        << u""_qs
        << QStringList{u"p 1.0 We agree. Then we"_qs, u"p 1.1 We agree. Then we"_qs, u"p 1.2"_qs,
                       u"p 1.3 … --"_qs, u"p 1.4 We agree. Then we"_qs}
        << QStringList{u"5: translate: We agree."_qs};
}

void CaptionPipelineTest::roads()
{
    QFETCH(QString, rawLanguage);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, outputs);
    CaptionPipeline pipeline(rawLanguageNamed(rawLanguage));
    QCOMPARE(PipelineScript::play(pipeline, steps), outputs);
}

void CaptionPipelineTest::startsOnTheRoadOfItsRawLanguage()
{
    QVERIFY(CaptionPipeline(SpeechLanguage::english).englishOnly());
    QVERIFY(!CaptionPipeline(SpeechLanguage::chinese).englishOnly());
    QVERIFY(!CaptionPipeline(std::nullopt).englishOnly());

    CaptionPipeline pipeline(SpeechLanguage::chinese);
    QCOMPARE(pipeline.language(), SpeechLanguage::english);
    pipeline.partial(u"我们今天开会"_qs, std::nullopt, 1.0);
    QCOMPARE(pipeline.language(), SpeechLanguage::chinese);
    QVERIFY(pipeline.englishOnly());
    // A flush ends the open text but keeps the road.
    pipeline.flush();
    QVERIFY(pipeline.englishOnly());
    QCOMPARE(pipeline.language(), SpeechLanguage::chinese);
}

void CaptionPipelineTest::shortForeignTailIsWithheldFromPartials()
{
    CaptionPipeline pipeline(std::nullopt);
    pipeline.partial(u"我们今天讨论"_qs, std::nullopt, 1.0);
    QCOMPARE(pipeline.language(), SpeechLanguage::chinese);
    const QStringList chinese{u"我"_qs, u"们"_qs, u"今"_qs, u"天"_qs, u"讨"_qs, u"论"_qs};
    for (const QString &text : {u"我们今天讨论 Apple"_qs, u"我们今天讨论 Apple Watch"_qs,
                                u"我们今天讨论 Apple Watch Series"_qs}) {
        QVERIFY(pipeline.partial(text, std::nullopt, 1.1).isEmpty());
        QCOMPARE(pipeline.segmenter().history().last(), chinese);
        QCOMPARE(pipeline.language(), SpeechLanguage::chinese);
    }
    // The live line still shows everything that was heard.
    QCOMPARE(pipeline.pendingEnglish(u"我们今天讨论 Apple Watch Series"_qs), u"我们今天讨论Apple Watch Series"_qs);
    // A fourth word is a change of language: the chinese part goes at once.
    QCOMPARE(pipeline.partial(u"我们今天讨论 Apple Watch Series Ten"_qs, std::nullopt, 1.2),
             QList<CaptionPipeline::Output>{CaptionPipeline::Output::translate(u"我们今天讨论"_qs)});
    QCOMPARE(pipeline.language(), SpeechLanguage::english);
    QCOMPARE(pipeline.offset(), 6);
}

void CaptionPipelineTest::japaneseKeepsItsIdeographs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("language");
    QTest::addColumn<int>("offset");

    // Ideographs at the end of Japanese belong to it, up to three of them.
    QTest::newRow("ideographs after kana") << u"今日は雨です会議"_qs << int(SpeechLanguage::other) << 0;
    QTest::newRow("ideographs before kana") << u"会議室で"_qs << int(SpeechLanguage::other) << 0;
    QTest::newRow("three ideographs after kana") << u"そうです会議室"_qs << int(SpeechLanguage::other) << 0;
    // Four ideographs or more after kana are Chinese.
    QTest::newRow("four ideographs after kana") << u"そうです会議室長"_qs << int(SpeechLanguage::chinese) << 4;
    QTest::newRow("chinese after japanese") << u"そうです 我们今天开会"_qs << int(SpeechLanguage::chinese) << 4;
}

void CaptionPipelineTest::japaneseKeepsItsIdeographs()
{
    QFETCH(QString, text);
    QFETCH(int, language);
    QFETCH(int, offset);
    CaptionPipeline pipeline(std::nullopt);
    pipeline.partial(text, std::nullopt, 1.0);
    QCOMPARE(int(pipeline.language().value()), language);
    QCOMPARE(pipeline.offset(), offset);
}

void CaptionPipelineTest::pendingEnglish()
{
    CaptionPipeline translated(std::nullopt);
    QVERIFY(translated.committed(u"We went to the"_qs, 1.0).isEmpty());
    QCOMPARE(translated.pendingEnglish(u"station"_qs), u"We went to the station"_qs);
    QCOMPARE(translated.pendingEnglish(u""_qs), u"We went to the"_qs);
    translated.flush();
    QVERIFY(translated.committed(u"我们"_qs, 2.0).isEmpty());
    QCOMPARE(translated.pendingEnglish(u"开始"_qs), u"我们开始"_qs);
    translated.flush();
    // Words already cut are not pending any more.
    for (int i = 0; i < 3; ++i)
        translated.partial(u"We agree. Then we"_qs, std::nullopt, 3.0 + i * 0.1);
    QCOMPARE(translated.pendingEnglish(u"We agree. Then we go"_qs), u"Then we go"_qs);

    CaptionPipeline raw(SpeechLanguage::english);
    for (int i = 0; i < 3; ++i)
        raw.partial(u"one two three"_qs, std::nullopt, 1.0 + i * 0.1);
    QCOMPARE(raw.pendingEnglish(u"one two three four"_qs), u"three four"_qs);
    QCOMPARE(raw.pendingEnglish(u"…one -- two three"_qs), u"three"_qs);
}

DODEDAROV_TEST(CaptionPipelineTest)
#include "CaptionPipelineTest.moc"
