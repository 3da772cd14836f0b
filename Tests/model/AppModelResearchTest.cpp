#include "TestMain.h"

#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "platform/SpellChecker.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kKey = QStringLiteral("sk-research");
const QString kFound = QStringLiteral("{\"domain\":\"心脏外科\",\"names\":[\"Mara Quell\"]}");

CaptionLine line(int id, const QString &english, const QString &chinese = QStringLiteral("译文"))
{
    CaptionLine l;
    l.id = id;
    l.english = english;
    l.chinese = chinese;
    l.finished = true;
    l.time = QDateTime(QDate(2026, 5, 4), QTime(9, 40, 0));
    return l;
}

// `count` finished lines of `words` words each; line i reads "Lxx word word ...".
QList<CaptionLine> wordLines(int count, int words)
{
    QList<CaptionLine> lines;
    for (int i = 0; i < count; ++i) {
        QStringList parts{QStringLiteral("L%1").arg(i, 3, 10, QLatin1Char('0'))};
        for (int w = 1; w < words; ++w)
            parts.append(QStringLiteral("talk"));
        lines.append(line(i, parts.join(u' ')));
    }
    return lines;
}

QString userOf(const FakeDeepSeekServer::Request &request)
{
    return request.contents().last();
}

bool offersTools(const FakeDeepSeekServer::Request &request)
{
    return request.json.contains(QStringLiteral("tools"));
}

} // namespace

// Research while listening, quick checks of suspect words and the corrections of heard names,
// through the model against the fake DeepSeek service and the real spell checker.
class AppModelResearchTest final : public QObject {
    Q_OBJECT

    SpellChecker m_spelling;

private slots:
    void initTestCase()
    {
        QSignalSpy loaded(&m_spelling, &SpellChecker::loaded);
        m_spelling.load();
        QVERIFY(loaded.wait(60000));
        QVERIFY(m_spelling.isLoaded());
    }

    void wordsAndSpacing_data()
    {
        QTest::addColumn<int>("extraWords");
        QTest::addColumn<double>("elapsed");
        QTest::addColumn<bool>("starts");
        QTest::newRow("119 words") << 0 << 150.0 << false;
        QTest::newRow("120 words") << 1 << 150.0 << true;
    }

    void wordsAndSpacing()
    {
        QFETCH(int, extraWords);
        QFETCH(double, elapsed);
        QFETCH(bool, starts);
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, kKey);
        AppModel &model = rig.make();
        model.setRunningState(true);
        // 119 counted words; merged, open and empty lines count for nothing.
        QList<CaptionLine> lines = wordLines(7, 17);
        CaptionLine merged = line(7, QStringLiteral("merged words are not counted here at all"));
        merged.merged = true;
        CaptionLine open = line(8, QStringLiteral("open words are not counted here at all"));
        open.finished = false;
        lines << merged << open << line(9, QString());
        if (extraWords)
            lines << line(10, QStringLiteral("more"));
        rig.setLines(lines);
        rig.now += elapsed;
        model.maybeResearch();
        QCOMPARE(model.researchStatus().has_value(), starts);
        if (!starts)
            return;
        QCOMPARE(*model.researchStatus(), QStringLiteral("正在研究最近的内容（可能会联网搜索）…"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.deepSeek.requests().size() == 1, 20000);
        const QString user = userOf(rig.deepSeek.requests().first());
        QVERIFY(user.contains(QStringLiteral("L000 talk")));
        QVERIFY(user.contains(QStringLiteral("more（译文）")));
        QVERIFY(!user.contains(QStringLiteral("merged words")));
        QVERIFY(!user.contains(QStringLiteral("open words")));
        QVERIFY(!user.contains(kKey));
    }

    void materialWindow()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, kKey);
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({kFound}));
        AppModel &model = rig.make();
        model.setResearchWebSearch(false);
        model.setRunningState(true);
        QList<CaptionLine> lines = wordLines(70, 2);
        lines[69].chinese.clear();
        lines[68].revised = CaptionLine::Revision{QStringLiteral("L068 revised"), QStringLiteral("改过"), QString()};
        rig.setLines(lines);
        rig.now += 150;
        model.maybeResearch();
        QCOMPARE(model.researchStatus(), std::optional<QString>(QStringLiteral("正在研究最近的内容…")));
        QTRY_COMPARE_WITH_TIMEOUT(model.research().domain, QStringLiteral("心脏外科"), 20000);
        const QString user = userOf(rig.deepSeek.requests().first());
        QVERIFY(!user.contains(QStringLiteral("L009 talk")));
        QVERIFY(user.contains(QStringLiteral("L010 talk（译文）")));
        QVERIFY(user.contains(QStringLiteral("L068 revised（改过）")));
        QVERIFY(user.contains(QStringLiteral("L069 talk\n")) || user.endsWith(QStringLiteral("L069 talk")));
        QVERIFY(!offersTools(rig.deepSeek.requests().first()));
        QCOMPARE(model.diag().count(QStringLiteral("research_reply")), 1);
        QCOMPARE(model.diag().count(QStringLiteral("research_result")), 1);
        QVERIFY(model.meetingRecordText().contains(QStringLiteral("判断领域：心脏外科")));
        QVERIFY(model.researchStatus()->startsWith(QStringLiteral("已研究：")));

        // Only after another 150 s and 120 new words does the next pass start.
        rig.setLines(lines + wordLines(1, 2));
        rig.now += 150;
        model.maybeResearch();
        QCOMPARE(rig.deepSeek.requests().size(), 1);
        rig.now -= 150;
        rig.setLines(lines + wordLines(60, 2));
        rig.now += 149.9;
        model.maybeResearch();
        QVERIFY(model.researchStatus()->startsWith(QStringLiteral("已研究：")));
        rig.now += 0.1;
        model.maybeResearch();
        QCOMPARE(model.researchStatus(), std::optional<QString>(QStringLiteral("正在研究最近的内容…")));
    }

    void webSearchFailure_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("rejected");
        QTest::newRow("tool refused") << 422 << true;
        QTest::newRow("server error") << 500 << false;
        QTest::newRow("rate limit") << 429 << false;
        QTest::newRow("connection dropped") << 0 << false;
    }

    void webSearchFailure()
    {
        QFETCH(int, status);
        QFETCH(bool, rejected);
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, kKey);
        rig.deepSeek.enqueue(status ? FakeDeepSeekServer::error(status)
                                    : FakeDeepSeekServer::Script().delta(QStringLiteral("{\"dom")).drop());
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({kFound}));
        AppModel &model = rig.make();
        model.setRunningState(true);
        rig.setLines(wordLines(10, 12));
        rig.now += 150;
        model.maybeResearch();
        QTRY_COMPARE_WITH_TIMEOUT(model.diag().count(QStringLiteral("research_reply")), 1, 20000);
        // The transport resends a refused tool request in its own forms first; the research
        // call's resend is the last request and goes without the tool.
        const QList<FakeDeepSeekServer::Request> requests = rig.deepSeek.requests();
        QCOMPARE(requests.size(), 2);
        QVERIFY(offersTools(requests.first()));
        QVERIFY(!offersTools(requests.last()));
        // Only a refusal switches the tool off for the rest of the run: the chat's question
        // offers it again after a dropped connection.
        model.askMeeting(QStringLiteral("讲了什么？"));
        QTRY_VERIFY_WITH_TIMEOUT(!model.chatBusy(), 20000);
        QVERIFY(rig.deepSeek.requests().size() > requests.size());
        QCOMPARE(offersTools(rig.deepSeek.requests().at(requests.size())), !rejected);
        const DiagnosticEvent reply = [&] {
            for (const DiagnosticEvent &e : model.diag().events())
                if (e.kind == QStringLiteral("research_reply"))
                    return e;
            return DiagnosticEvent();
        }();
        QCOMPARE(reply.fields.value(QStringLiteral("search")), QStringLiteral("1"));
        QCOMPARE(model.research().domain, QStringLiteral("心脏外科"));
    }

    void unparsedReplyRewinds()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, kKey);
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("没有 JSON")}));
        AppModel &model = rig.make();
        model.setRunningState(true);
        rig.setLines(wordLines(10, 12));
        rig.now += 150;
        model.maybeResearch();
        QTRY_COMPARE_WITH_TIMEOUT(model.researchStatus(),
                                  std::optional<QString>(QStringLiteral("这次没研究出结果，稍后再试。")), 20000);
        QCOMPARE(model.diag().count(QStringLiteral("research_unparsed")), 1);
        // The same lines count again at the next round.
        rig.now += 150;
        model.maybeResearch();
        QVERIFY(model.researchStatus()->startsWith(QStringLiteral("正在研究")));
    }

    void nothingNew()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        ResearchResult known;
        known.domain = QStringLiteral("心脏外科");
        known.names = {QStringLiteral("Mara Quell")};
        model.absorbResearch(known, false, QStringLiteral("自动研究"));
        QCOMPARE(model.diag().count(QStringLiteral("research_result")), 1);
        const QString record = model.meetingRecordText();
        model.absorbResearch(known, false, QStringLiteral("自动研究"));
        QCOMPARE(model.diag().count(QStringLiteral("research_result")), 1);
        QCOMPARE(model.meetingRecordText(), record);
        QVERIFY(model.researchStatus()->startsWith(QStringLiteral("已研究：")));
        QCOMPARE(model.background().title, QStringLiteral("心脏外科"));
    }

    void soundAlikes()
    {
        ModelRig rig;
        rig.platform.isDictionaryWord = [this](const QString &word) { return m_spelling.isWord(word); };
        AppModel &model = rig.make();
        ResearchResult known;
        known.fixes = {{QStringLiteral("Tarwick"), QStringLiteral("Tarvick")}};
        model.setResearch(known);
        QCOMPARE(model.fixSoundAlikes(QStringLiteral("The valve was fine.")), QStringLiteral("The valve was fine."));
        QCOMPARE(model.diag().count(QStringLiteral("soundalike")), 0);
        QCOMPARE(model.fixSoundAlikes(QStringLiteral("Tarwick said so.")), QStringLiteral("Tarvick said so."));
        QCOMPARE(model.fixSoundAlikes(QStringLiteral("Again Tarwick spoke.")), QStringLiteral("Again Tarvick spoke."));
        QCOMPARE(model.diag().count(QStringLiteral("soundalike")), 2);
        QCOMPARE(model.meetingRecordText().count(QStringLiteral("〔近音纠正〕")), 1);

        // The caption line that received the unit colours the corrected word.
        rig.setLines({line(0, QStringLiteral("Tarvick said so.")), line(1, QStringLiteral("Again Tarvick spoke."))});
        model.markFixed(5);
        model.markFixed(1);
        QCOMPARE(model.lines().at(1).fixed, QStringList{QStringLiteral("Tarvick")});
        QVERIFY(model.lines().at(0).fixed.isEmpty());
        model.markFixed(0);
        QCOMPARE(model.lines().at(0).fixed, QStringList{QStringLiteral("Tarvick")});
    }

    void quickChecks()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, kKey);
        rig.platform.isDictionaryWord = [this](const QString &word) { return m_spelling.isWord(word); };
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("{\"items\":[]}")}));
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("{\"items\":[]}")}));
        AppModel &model = rig.make();
        model.setRunningState(true);
        // Chinese units and research off queue nothing.
        model.noteSuspects(QStringLiteral("Zorvath 说的"), SpeechLanguage::chinese);
        model.setResearchEnabled(false);
        model.noteSuspects(QStringLiteral("Zorvath Quimbly spoke."), SpeechLanguage::english);
        model.setResearchEnabled(true);
        QVERIFY(!model.researchStatus());

        // Four words wait 1.5 s from the first of them.
        model.noteSuspects(QStringLiteral("Zorvath and Quimbly met Blentor and Krastig."), SpeechLanguage::english);
        QVERIFY(!model.researchStatus());
        rig.now += 1.4;
        model.maybeQuickResearch();
        QVERIFY(!model.researchStatus());
        // The fifth word sends the batch at once; the sixth and seventh wait for the next.
        model.noteSuspects(QStringLiteral("Then ZORVATH, Plomtic, Vexhaven and Drummock spoke."), SpeechLanguage::english);
        QCOMPARE(model.researchStatus(),
                 std::optional<QString>(QStringLiteral("正在查：Zorvath、Quimbly、Blentor、Krastig、Plomtic…")));
        QTRY_COMPARE_WITH_TIMEOUT(model.diag().count(QStringLiteral("quick_reply")), 1, 20000);
        QCOMPARE(model.researchStatus(), std::nullopt);
        QCOMPARE(rig.deepSeek.requests().size(), 1);
        rig.now += 8;
        model.maybeQuickResearch();
        QCOMPARE(model.researchStatus(), std::optional<QString>(QStringLiteral("正在查：Vexhaven、Drummock…")));
        QTRY_COMPARE_WITH_TIMEOUT(model.diag().count(QStringLiteral("quick_reply")), 2, 20000);
        QCOMPARE(rig.deepSeek.requests().size(), 2);
    }

    void quickCheckCap()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, kKey);
        rig.platform.isDictionaryWord = [](const QString &) { return false; };
        AppModel &model = rig.make();
        model.setRunningState(true);
        for (int i = 0; i < 40; ++i)
            rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("{\"items\":[]}")}));
        for (int i = 0; i < 40; ++i) {
            rig.now += 8;
            const QString word = QStringLiteral("Qxv") + QChar(u'a' + i / 26) + QChar(u'a' + i % 26);
            model.noteSuspects(word + QStringLiteral(" spoke"), SpeechLanguage::english);
            rig.now += 1.5;
            model.maybeQuickResearch();
            QTRY_COMPARE_WITH_TIMEOUT(model.diag().count(QStringLiteral("quick_reply")), i + 1, 20000);
        }
        rig.now += 8;
        model.noteSuspects(QStringLiteral("Yetanotherword appears"), SpeechLanguage::english);
        rig.now += 1.5;
        model.maybeQuickResearch();
        QCOMPARE(model.diag().count(QStringLiteral("quick_reply")), 40);
        QCOMPARE(rig.deepSeek.requests().size(), 40);
    }

    void shownLines()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, kKey);
        rig.platform.isDictionaryWord = [this](const QString &word) { return m_spelling.isWord(word); };
        AppModel &model = rig.make();
        QList<CaptionLine> lines;
        // An old line beyond the last 150, then 13 candidates, a Chinese line, a line whose
        // translation already carries the name, and an unfinished one.
        lines.append(line(0, QStringLiteral("Tarwick opened.")));
        for (int i = 1; i < 10; ++i)
            lines.append(line(i, QStringLiteral("Nothing here.")));
        while (lines.size() < 10 + 150 - 16)
            lines.append(line(int(lines.size()), QStringLiteral("Nothing here.")));
        for (int i = 0; i < 13; ++i)
            lines.append(line(int(lines.size()), QStringLiteral("Tarwick spoke %1.").arg(i), QStringLiteral("塔维克发言。")));
        CaptionLine chinese = line(int(lines.size()), QStringLiteral("Tarwick 说的对"), QStringLiteral("Tarwick is right"));
        chinese.language = SpeechLanguage::chinese;
        lines.append(chinese);
        lines.append(line(int(lines.size()), QStringLiteral("Tarwick again."), QStringLiteral("Tarvick 又说。")));
        CaptionLine open = line(int(lines.size()), QStringLiteral("Tarwick open"));
        open.finished = false;
        lines.append(open);
        rig.setLines(lines);
        const int first = int(lines.size()) - 150;
        QVERIFY(first > 0);

        ResearchResult found;
        found.fixes = {{QStringLiteral("Tarwick"), QStringLiteral("Tarvick")}};
        model.absorbResearch(found, false, QStringLiteral("自动研究"));
        QCOMPARE(model.lines().first().english, QStringLiteral("Tarwick opened."));
        QCOMPARE(model.lines().last().english, QStringLiteral("Tarwick open"));
        int corrected = 0;
        for (const CaptionLine &l : model.lines())
            if (l.fixed.contains(QStringLiteral("Tarvick")))
                ++corrected;
        QCOMPARE(corrected, 15);
        QCOMPARE(model.diag().count(QStringLiteral("refix")), 12);
        QCOMPARE(model.diag().count(QStringLiteral("shown_fix")), 1);
        QVERIFY(model.meetingRecordText().contains(
            QStringLiteral("〔研究纠正〕前面已经显示的 15 段字幕改过来了（字幕里换了颜色），其中 12 段的译文按改正后的原文重译：")));

        // A second pass finds nothing to change: no note, no event.
        model.absorbResearch(found, false, QStringLiteral("自动研究"));
        QCOMPARE(model.diag().count(QStringLiteral("shown_fix")), 1);
    }
};

DODEDAROV_TEST(AppModelResearchTest)
#include "AppModelResearchTest.moc"
