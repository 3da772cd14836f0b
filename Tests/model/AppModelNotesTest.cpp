#include "TestMain.h"

#include "fakes/ModelRig.h"
#include "platform/Keychain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString kVideo = QStringLiteral("https://www.youtube.com/watch?v=abc123");
const QString kVideoPage = QStringLiteral(
    "<html><head><title>Heart Talk - YouTube</title></head><body><script>var d={\"title\":{\"runs\":[{\"text\":"
    "\"Heart Talk\"}]},\"shortDescription\":\"Dr. Mara Quell on valves\"};</script></body></html>");
const QString kExtracted = QStringLiteral(
    "{\"title\":\"心脏瓣膜讲座\",\"background\":\"一场讲座\",\"names\":[\"Mara Quell\"],\"terms\":[{\"en\":\"TAVR\",\"zh\":\"经导管主动脉瓣置换\"}]}");

QString userContent(const FakeDeepSeekServer::Request &request)
{
    const QStringList contents = request.contents();
    return contents.isEmpty() ? QString() : contents.last();
}

QList<CaptionLine> wordLines(int count, int wordsEach)
{
    QList<CaptionLine> lines;
    for (int i = 0; i < count; ++i) {
        CaptionLine line;
        line.id = i;
        QStringList words;
        for (int w = 0; w < wordsEach; ++w)
            words.append(QStringLiteral("word"));
        line.english = words.join(u' ');
        line.chinese = QStringLiteral("词");
        line.finished = true;
        lines.append(line);
    }
    return lines;
}

// A multi-line block as the record lays it out: later lines indented under the time.
QString block(QString text)
{
    return text.replace(u'\n', u'\n' + TranscriptWriter::indent);
}

SessionNote automaticNote(int id, const QString &text)
{
    SessionNote note;
    note.id = id;
    note.text = text;
    note.automatic = true;
    note.extracted.title = QStringLiteral("旧页面");
    return note;
}

} // namespace

// Session notes, their extraction, the front browser page and the matching of the tab being
// listened to, through the model against the fake DeepSeek service and test browser hooks.
class AppModelNotesTest final : public QObject {
    Q_OBJECT

private slots:
    void noteWithoutKey()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.submitNote(QStringLiteral(" \n\t "), false);
        QVERIFY(model.notes().isEmpty());
        model.submitNote(QStringLiteral("  CABG = 冠脉搭桥  "), false);
        QCOMPARE(model.notes().size(), 1);
        const SessionNote note = model.notes().first();
        QCOMPARE(note.text, QStringLiteral("CABG = 冠脉搭桥"));
        QVERIFY(!note.busy);
        QCOMPARE(note.status, std::optional<QString>(QStringLiteral("已记下（还没有翻译密钥，没法提取人名）")));
        QCOMPARE(note.extracted.terms.size(), 1);
        QCOMPARE(note.extracted.terms.first().english, QStringLiteral("CABG"));
        QVERIFY(model.meetingRecordText().contains(
            block(QStringLiteral("〔读取本场说明〕CABG = 冠脉搭桥\n已记下（还没有翻译密钥，没法提取人名）\n术语：CABG = 冠脉搭桥"))));
        QVERIFY(rig.deepSeek.requests().isEmpty());
        model.deleteNote(note.id);
        QVERIFY(model.notes().isEmpty());
    }

    void extraction_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("sent");
        QTest::newRow("link only") << kVideo << QStringLiteral("标题：Heart Talk\n简介：Dr. Mara Quell on valves");
        QTest::newRow("words and link") << QStringLiteral("今天的讲者 ") + kVideo
                                        << QStringLiteral("今天的讲者\n\n标题：Heart Talk\n简介：Dr. Mara Quell on valves");
        QTest::newRow("words only") << QStringLiteral("讲者 Mara Quell") << QStringLiteral("讲者 Mara Quell");
    }

    void extraction()
    {
        QFETCH(QString, note);
        QFETCH(QString, sent);
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        QList<QUrl> fetched;
        rig.platform.fetchPage = [&](const QUrl &url, std::function<void(const AppModel::OptionalText &)> done) {
            fetched.append(url);
            done(kVideoPage);
        };
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({kExtracted.left(40), kExtracted.mid(40)}));
        AppModel &model = rig.make();
        model.submitNote(note, false);
        QVERIFY(model.notes().first().busy);
        QTRY_VERIFY_WITH_TIMEOUT(!model.notes().first().busy, 20000);
        QCOMPARE(rig.deepSeek.requests().size(), 1);
        QCOMPARE(userContent(rig.deepSeek.requests().first()), sent);
        QCOMPARE(rig.deepSeek.requests().first().json.value(QStringLiteral("max_tokens")).toInt(), 1500);
        QCOMPARE(fetched.size(), note.contains(QStringLiteral("http")) ? 1 : 0);
        const SessionNote done = model.notes().first();
        QCOMPARE(done.extracted.names, QStringList{QStringLiteral("Mara Quell")});
        QVERIFY(done.status && done.status->startsWith(QStringLiteral("提取到：")));
        QVERIFY(model.meetingRecordText().contains(block(QStringLiteral("\n人名、机构：Mara Quell\n术语：TAVR = 经导管主动脉瓣置换"))));
        QCOMPARE(model.diag().count(QStringLiteral("note")), 1);
        QCOMPARE(model.background().names, QStringList{QStringLiteral("Mara Quell")});
    }

    void pageThatCannotBeFetched()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        AppModel &model = rig.make();
        model.submitNote(QStringLiteral("X = 叉 https://example.org/agenda"), false);
        QTRY_VERIFY_WITH_TIMEOUT(!model.notes().first().busy, 20000);
        QCOMPARE(model.notes().first().status,
                 std::optional<QString>(QStringLiteral("打不开这个链接。可以把介绍文字直接贴进来。")));
        QCOMPARE(model.notes().first().extracted.terms.size(), 1);
        QVERIFY(rig.deepSeek.requests().isEmpty());
    }

    void materialCut()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("不是 JSON")}));
        AppModel &model = rig.make();
        // A pasted note of megabytes is sent as its first 12,000 characters.
        model.submitNote(QString(300000, u'字'), false);
        QTRY_VERIFY_WITH_TIMEOUT(!model.notes().first().busy, 20000);
        QCOMPARE(userContent(rig.deepSeek.requests().first()).size(), 12000);
        QCOMPARE(model.notes().first().status, std::nullopt);
        QVERIFY(model.meetingRecordText().contains(QStringLiteral("〔读取本场说明〕") + QString(80, u'字') + QStringLiteral("…")));
    }

    void recordBlock_data()
    {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("cut");
        QTest::newRow("80") << 80 << false;
        QTest::newRow("81") << 81 << true;
    }

    void recordBlock()
    {
        QFETCH(int, length);
        QFETCH(bool, cut);
        ModelRig rig;
        AppModel &model = rig.make();
        model.submitNote(QString(length, u'a'), false);
        const QString text = model.meetingRecordText();
        const QString expected = QStringLiteral("〔读取本场说明〕") + QString(80, u'a') + (cut ? QStringLiteral("…\n") : QStringLiteral("\n"));
        QVERIFY2(text.contains(expected), qPrintable(text));
    }

    void finishNoteTerms()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.submitNote(QStringLiteral("T-cell = T细胞"), false);
        const int id = model.notes().first().id;
        SessionBackground found;
        found.title = QStringLiteral("免疫");
        found.terms = {GlossaryEntry(QStringLiteral("t cell"), QStringLiteral("T 淋巴细胞")),
                       GlossaryEntry(QStringLiteral("Antigen"), QStringLiteral("   "))};
        model.finishNote(id, found, QStringLiteral("提取到：免疫"));
        const QList<GlossaryEntry> terms = model.notes().first().extracted.terms;
        QCOMPARE(terms.size(), 2);
        QCOMPARE(terms.at(0).english, QStringLiteral("Antigen"));
        QCOMPARE(terms.at(1).english, QStringLiteral("T-cell"));
        QCOMPARE(terms.at(1).chinese, QStringLiteral("T细胞"));
        QVERIFY(model.meetingRecordText().contains(QStringLiteral("术语：Antigen；T-cell = T细胞")));

        // A note deleted while its extraction runs: the late answer changes nothing.
        model.deleteNote(id);
        const QString before = model.meetingRecordText();
        model.finishNote(id, found, QStringLiteral("提取到：免疫"));
        QVERIFY(model.notes().isEmpty());
        QCOMPARE(model.meetingRecordText(), before);
    }

    void emptyAutomaticNoteLeavesNoTrace()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        model.setNotes({automaticNote(7, kVideo)});
        model.finishNote(7, SessionBackground(), std::nullopt);
        QVERIFY(model.notes().isEmpty());
        QVERIFY(model.meetingRecordText().trimmed().isEmpty());
        QCOMPARE(model.diag().count(QStringLiteral("note")), 0);
    }

    void frontPage_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("alreadyNoted");
        QTest::addColumn<bool>("read");
        QTest::newRow("video page") << kVideo << false << true;
        QTest::newRow("already in a note") << kVideo << true << false;
        QTest::newRow("not a video site") << QStringLiteral("https://example.org/news") << false << false;
        QTest::newRow("sign-in page") << QStringLiteral("https://accounts.youtube.com/login") << false << false;
        QTest::newRow("no browser") << QString() << false << false;
    }

    void frontPage()
    {
        QFETCH(QString, address);
        QFETCH(bool, alreadyNoted);
        QFETCH(bool, read);
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        if (!address.isEmpty())
            rig.platform.currentBrowserPage = [address](std::function<void(const std::optional<QUrl> &)> done) {
                done(QUrl(address));
            };
        rig.platform.fetchPage = [](const QUrl &, std::function<void(const AppModel::OptionalText &)> done) { done(kVideoPage); };
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({kExtracted}));
        AppModel &model = rig.make();
        if (alreadyNoted)
            model.setNotes({automaticNote(1, QStringLiteral("看这个 ") + kVideo)});
        const qsizetype before = model.notes().size();
        model.readCurrentPage();
        if (!read) {
            QCOMPARE(model.notes().size(), before);
            return;
        }
        QCOMPARE(model.notes().size(), 1);
        QVERIFY(model.notes().first().automatic);
        QTRY_VERIFY_WITH_TIMEOUT(!model.notes().first().busy, 20000);
        QCOMPARE(model.notes().first().extracted.title, QStringLiteral("心脏瓣膜讲座"));

        // Switched off, nothing is read.
        model.setReadBrowserPage(false);
        model.deleteNote(model.notes().first().id);
        model.readCurrentPage();
        QVERIFY(model.notes().isEmpty());
    }

    void tabChecks()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        int asked = 0;
        rig.platform.browserTabs = [&](std::function<void(const QList<BrowserTabs::Tab> &)> done) {
            ++asked;
            done({});
        };
        AppModel &model = rig.make();
        model.setRunningState(true);
        rig.setLines(wordLines(79, 1));
        model.maybeMatchBrowserTab();
        QCOMPARE(asked, 0);
        rig.setLines(wordLines(80, 1));
        model.maybeMatchBrowserTab();
        QCOMPARE(asked, 1);
        // No candidate: the first check is used up; the second waits for 400 words.
        model.maybeMatchBrowserTab();
        QCOMPARE(asked, 1);
        rig.setLines(wordLines(399, 1));
        model.maybeMatchBrowserTab();
        QCOMPARE(asked, 1);
        rig.setLines(wordLines(400, 1));
        model.maybeMatchBrowserTab();
        QCOMPARE(asked, 2);
        model.maybeMatchBrowserTab();
        QCOMPARE(asked, 2);
        QVERIFY(rig.deepSeek.requests().isEmpty());
    }

    void tabJudged_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<bool>("noteHasTab");
        QTest::addColumn<QStringList>("notesAfter");
        QTest::addColumn<QStringList>("recordHas");
        QTest::addColumn<bool>("secondCheck");
        const QString talk = QStringLiteral("https://www.youtube.com/watch?v=talk");
        QTest::newRow("wrong page replaced")
            << QStringLiteral("{\"index\":1,\"sure\":true}") << false << QStringList{talk}
            << QStringList{QStringLiteral("〔去掉〕开始时读的网页不是正在听的：") + kVideo,
                           block(QStringLiteral("〔找到正在听的网页〕Talk\n") + talk)}
            << false;
        QTest::newRow("tab already noted")
            << QStringLiteral("{\"index\":1,\"sure\":true}") << true << QStringList{kVideo, QStringLiteral("讲座 ") + talk}
            << QStringList{} << false;
        QTest::newRow("none matches")
            << QStringLiteral("{\"index\":-1,\"sure\":true}") << false << QStringList{}
            << QStringList{QStringLiteral("〔去掉〕开始时读的网页和正在讲的内容对不上：") + kVideo} << true;
        QTest::newRow("not sure") << QStringLiteral("{\"index\":1,\"sure\":false}") << false << QStringList{kVideo}
                                  << QStringList{} << true;
        QTest::newRow("not JSON") << QStringLiteral("第 1 个") << false << QStringList{kVideo} << QStringList{} << true;
    }

    void tabJudged()
    {
        QFETCH(QString, reply);
        QFETCH(bool, noteHasTab);
        QFETCH(QStringList, notesAfter);
        QFETCH(QStringList, recordHas);
        QFETCH(bool, secondCheck);
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        const QString talk = QStringLiteral("https://www.youtube.com/watch?v=talk");
        int asked = 0;
        rig.platform.browserTabs = [&](std::function<void(const QList<BrowserTabs::Tab> &)> done) {
            ++asked;
            done({{QUrl(kVideo), QStringLiteral("Other")}, {QUrl(talk), QStringLiteral("Talk")}});
        };
        // The chosen tab's own note stays in extraction: its page never arrives.
        rig.platform.fetchPage = [](const QUrl &, std::function<void(const AppModel::OptionalText &)>) {};
        rig.deepSeek.enqueue(FakeDeepSeekServer::stream({reply}));
        AppModel &model = rig.make();
        QList<SessionNote> notes{automaticNote(1, kVideo)};
        if (noteHasTab) {
            SessionNote typed;
            typed.id = 2;
            typed.text = QStringLiteral("讲座 ") + talk;
            notes.append(typed);
        }
        model.setNotes(notes);
        model.setRunningState(true);
        rig.setLines(wordLines(80, 1));
        model.maybeMatchBrowserTab();
        QTRY_COMPARE_WITH_TIMEOUT(model.diag().count(QStringLiteral("tab_judge")), 1, 20000);
        QStringList texts;
        for (const SessionNote &note : model.notes())
            texts.append(note.text);
        QCOMPARE(texts, notesAfter);
        const QString record = model.meetingRecordText();
        for (const QString &part : recordHas)
            QVERIFY2(record.contains(part), qPrintable(record));
        if (recordHas.isEmpty())
            QVERIFY(!record.contains(QStringLiteral("〔")));
        QCOMPARE(rig.deepSeek.requests().first().json.value(QStringLiteral("max_tokens")).toInt(), 200);
        rig.setLines(wordLines(400, 1));
        model.maybeMatchBrowserTab();
        QCOMPARE(asked, secondCheck ? 2 : 1);
    }

    void defaultHooksFindNothing()
    {
        ModelRig rig;
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        AppModel &model = rig.make();
        model.setRunningState(true);
        rig.setLines(wordLines(400, 1));
        model.readCurrentPage();
        model.maybeMatchBrowserTab();
        model.maybeMatchBrowserTab();
        QVERIFY(model.notes().isEmpty());
        QVERIFY(rig.deepSeek.requests().isEmpty());
        QCOMPARE(model.diag().count(QStringLiteral("tab_judge")), 0);
    }
};

DODEDAROV_TEST(AppModelNotesTest)
#include "AppModelNotesTest.moc"
