#include "TestMain.h"

#include "intelligence/BrowserTabs.h"

namespace {

using Tab = BrowserTabs::Tab;

Tab tab(const QString &url, const QString &title = QString()) { return Tab{QUrl(url), title}; }

// "address|title" per tab, to compare lists in one line.
QStringList shown(const QList<Tab> &tabs)
{
    QStringList out;
    for (const Tab &t : tabs)
        out.append(t.url.toString() + u'|' + t.title);
    return out;
}

const QString kSystem = QStringLiteral(
    "用户正在用实时字幕软件听一段讲话（多半是浏览器里的视频或线上会议）。下面是最近识别出的讲话内容，和浏览器里打开着的标签页（编号、标题、网址）。\n"
    "判断用户正在听的是哪一个标签页：标题、讲者、话题要和讲话内容对得上。对不上、拿不准就给 -1，不要猜。\n"
    "只输出 JSON：{\"index\":编号或-1,\"sure\":true或false,\"why\":\"中文，15 字以内\"}");

} // namespace

Q_DECLARE_METATYPE(QList<BrowserTabs::Tab>)

class BrowserTabsTest final : public QObject {
    Q_OBJECT

private slots:
    void parseTabList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("tabs");
        QTest::newRow("two tabs") << QStringLiteral("https://a.org/x\tA\nhttp://b.org/\tB\n")
                                  << QStringList{"https://a.org/x|A", "http://b.org/|B"};
        QTest::newRow("no tab character: empty title") << QStringLiteral("https://a.org/\n")
                                                       << QStringList{"https://a.org/|"};
        QTest::newRow("empty title kept") << QStringLiteral("https://a.org/\t\n") << QStringList{"https://a.org/|"};
        QTest::newRow("blank lines ignored") << QStringLiteral("\n\nhttps://a.org/\tA\n\n\n") << QStringList{"https://a.org/|A"};
        QTest::newRow("blanks and tabs trimmed")
            << QStringLiteral("  https://a.org/ \t\t  Title here \t\n") << QStringList{"https://a.org/|Title here"};
        QTest::newRow("split at the first tab only") << QStringLiteral("https://a.org/\tA\tB\n")
                                                     << QStringList{"https://a.org/|A\tB"};
        QTest::newRow("local file dropped") << QStringLiteral("file:///home/u/talk.html\tTalk\nhttps://a.org/\tA")
                                            << QStringList{"https://a.org/|A"};
        QTest::newRow("browser pages dropped")
            << QStringLiteral("about:blank\tNew\nchrome://settings/\tSettings\nedge://newtab/\tN\nmoz-extension://x/y\tE\n")
            << QStringList();
        QTest::newRow("no scheme dropped") << QStringLiteral("www.youtube.com/watch\tYT\n") << QStringList();
        QTest::newRow("empty text") << QString() << QStringList();
        QTest::newRow("line feed") << QStringLiteral("https://a.org/\tA\nhttps://b.org/\tB") << QStringList{"https://a.org/|A", "https://b.org/|B"};
        QTest::newRow("carriage return") << QStringLiteral("https://a.org/\tA\rhttps://b.org/\tB") << QStringList{"https://a.org/|A", "https://b.org/|B"};
        QTest::newRow("CR LF") << QStringLiteral("https://a.org/\tA\r\nhttps://b.org/\tB\r\n") << QStringList{"https://a.org/|A", "https://b.org/|B"};
        QTest::newRow("vertical tab") << QStringLiteral("https://a.org/\tA\vhttps://b.org/\tB") << QStringList{"https://a.org/|A", "https://b.org/|B"};
        QTest::newRow("form feed") << QStringLiteral("https://a.org/\tA\fhttps://b.org/\tB") << QStringList{"https://a.org/|A", "https://b.org/|B"};
        QTest::newRow("next line U+0085") << QString(QStringLiteral("https://a.org/\tA") + QChar(0x85) + QStringLiteral("https://b.org/\tB"))
                                          << QStringList{"https://a.org/|A", "https://b.org/|B"};
        QTest::newRow("line separator U+2028") << QString(QStringLiteral("https://a.org/\tA") + QChar(0x2028) + QStringLiteral("https://b.org/\tB"))
                                               << QStringList{"https://a.org/|A", "https://b.org/|B"};
        QTest::newRow("paragraph separator U+2029") << QString(QStringLiteral("https://a.org/\tA") + QChar(0x2029) + QStringLiteral("https://b.org/\tB"))
                                                    << QStringList{"https://a.org/|A", "https://b.org/|B"};
        QTest::newRow("title broken over two lines: the rest is no address")
            << QStringLiteral("https://a.org/\tFirst half\nsecond half\n") << QStringList{"https://a.org/|First half"};
    }
    void parseTabList()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, tabs);
        QCOMPARE(shown(BrowserTabs::parse(text)), tabs);
    }

    // What the readers hand over goes through the same address rule, and a title keeps to one line.
    void tabFromAReader_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("tab");
        QTest::newRow("plain") << QStringLiteral("https://a.org/") << QStringLiteral("A") << QStringLiteral("https://a.org/|A");
        QTest::newRow("title with tab and line breaks")
            << QStringLiteral("https://a.org/") << QStringLiteral("\tTalk\twith\r\nbreaks\u2028here\n") << QStringLiteral("https://a.org/|Talk with  breaks here");
        QTest::newRow("about:") << QStringLiteral("about:newtab") << QStringLiteral("New Tab") << QString();
        QTest::newRow("file:") << QStringLiteral("file:///tmp/a.html") << QStringLiteral("a") << QString();
        QTest::newRow("chrome:") << QStringLiteral("chrome://newtab/") << QStringLiteral("New Tab") << QString();
        QTest::newRow("empty") << QString() << QStringLiteral("x") << QString();
    }
    void tabFromAReader()
    {
        QFETCH(QString, address);
        QFETCH(QString, title);
        QFETCH(QString, tab);
        const std::optional<Tab> made = BrowserTabs::tab(address, title);
        QCOMPARE(made ? shown({*made}).first() : QString(), tab);
    }

    void isVideo_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("video");
        QTest::newRow("youtube") << QStringLiteral("https://www.youtube.com/watch?v=abc") << true;
        QTest::newRow("youtube mobile") << QStringLiteral("https://m.youtube.com/watch?v=abc") << true;
        QTest::newRow("short link") << QStringLiteral("https://youtu.be/abc") << true;
        QTest::newRow("bilibili") << QStringLiteral("https://www.bilibili.com/video/BV1") << true;
        QTest::newRow("tencent video") << QStringLiteral("https://v.qq.com/x/cover/1.html") << true;
        QTest::newRow("meeting") << QStringLiteral("https://meet.google.com/abc-defg-hij") << true;
        QTest::newRow("zoom subdomain") << QStringLiteral("https://us02web.zoom.us/wc/123") << true;
        QTest::newRow("talks path") << QStringLiteral("https://www.ted.com/talks/some_talk") << true;
        QTest::newRow("talks path, upper case") << QStringLiteral("https://WWW.TED.COM/Talks/x") << true;
        QTest::newRow("talk site elsewhere") << QStringLiteral("https://www.ted.com/about") << false;
        QTest::newRow("events path") << QStringLiteral("https://www.linkedin.com/events/123") << true;
        QTest::newRow("network feed") << QStringLiteral("https://www.linkedin.com/feed/") << false;
        QTest::newRow("fragment in the query only") << QStringLiteral("https://example.org/?u=youtube.com") << false;
        QTest::newRow("plain site") << QStringLiteral("https://example.org/video") << false;
    }
    void isVideo()
    {
        QFETCH(QString, url);
        QFETCH(bool, video);
        QCOMPARE(BrowserTabs::isVideo(QUrl(url)), video);
    }

    void videoSiteTable()
    {
        QCOMPARE(BrowserTabs::videoSites.size(), 18);
        for (const QString &site : BrowserTabs::videoSites)
            QCOMPARE(site, site.toLower());
    }

    void candidates_data()
    {
        QTest::addColumn<QList<Tab>>("tabs");
        QTest::addColumn<QStringList>("kept");
        QTest::newRow("same address keeps the first")
            << QList<Tab>{tab("https://a.org/", "one"), tab("https://b.org/", "b"), tab("https://a.org/", "two")}
            << QStringList{"https://a.org/|one", "https://b.org/|b"};
        QTest::newRow("unreadable video page is never a candidate")
            << QList<Tab>{tab("https://www.youtube.com/account", "acct"), tab("https://a.org/", "a")}
            << QStringList{"https://a.org/|a"};
        QTest::newRow("rejected tab does not count as seen")
            << QList<Tab>{tab("https://pay.example/", "x"), tab("https://a.org/", "a")}
            << QStringList{"https://a.org/|a"};
        QTest::newRow("videos first, order kept")
            << QList<Tab>{tab("https://a.org/", "a"), tab("https://vimeo.com/1", "v1"), tab("https://b.org/", "b"),
                          tab("https://youtu.be/2", "v2")}
            << QStringList{"https://vimeo.com/1|v1", "https://youtu.be/2|v2", "https://a.org/|a", "https://b.org/|b"};
        QList<Tab> sixteen;
        QStringList fifteen{"https://www.youtube.com/watch?v=last|video"};
        for (int i = 0; i < 15; ++i) {
            sixteen.append(tab(QStringLiteral("https://site%1.example/").arg(i), QStringLiteral("t%1").arg(i)));
            if (i < 14)
                fifteen.append(QStringLiteral("https://site%1.example/|t%1").arg(i));
        }
        sixteen.append(tab("https://www.youtube.com/watch?v=last", "video"));
        QTest::newRow("sixteen: the video comes first, the last other is cut") << sixteen << fifteen;
        QTest::newRow("none") << QList<Tab>() << QStringList();
    }
    void candidates()
    {
        QFETCH(QList<Tab>, tabs);
        QFETCH(QStringList, kept);
        QCOMPARE(shown(BrowserTabs::candidates(tabs)), kept);
    }

    void prompt()
    {
        const BrowserTabs::Prompt p = BrowserTabs::prompt(
            {tab("https://www.youtube.com/watch?v=k", "Keynote 2026"), tab("https://a.org/", "")},
            QStringLiteral("we are going to talk about GPUs"));
        QCOMPARE(p.system, kSystem);
        QCOMPARE(p.user, QStringLiteral("【最近的讲话】\nwe are going to talk about GPUs\n\n【标签页】\n"
                                        "0. Keynote 2026  https://www.youtube.com/watch?v=k\n"
                                        "1. （无标题）  https://a.org/\n"));
        QCOMPARE(BrowserTabs::prompt({}, QString()).user, QStringLiteral("【最近的讲话】\n\n\n【标签页】\n"));
    }

    // Limits count characters as a reader sees them: an emoji with its modifier is one.
    void promptCutsByCharacters()
    {
        const QString emoji = QStringLiteral("👍🏽");
        QString longTitle;
        for (int i = 0; i < 130; ++i)
            longTitle += emoji;
        const QString path(300, u'p');
        QString speech = QStringLiteral("开头");
        for (int i = 0; i < 3000; ++i)
            speech += u'话';
        speech += emoji;
        const BrowserTabs::Prompt p = BrowserTabs::prompt({tab("https://a.org/" + path, longTitle)}, speech);
        QString title;
        for (int i = 0; i < 120; ++i)
            title += emoji;
        const QString address = QStringLiteral("https://a.org/") + path;
        const QString expectedSpeech = QString(2999, u'话') + emoji;
        QCOMPARE(p.user, QStringLiteral("【最近的讲话】\n") + expectedSpeech + QStringLiteral("\n\n【标签页】\n0. ") + title
                             + QStringLiteral("  ") + address.left(160) + u'\n');
    }

    void parseReply_data()
    {
        QTest::addColumn<QString>("reply");
        QTest::addColumn<int>("tab"); // -1: none
        QTest::addColumn<bool>("decided");
        QTest::newRow("second tab, sure") << QStringLiteral("{\"index\":1,\"sure\":true}") << 1 << true;
        QTest::newRow("-1, sure") << QStringLiteral("{\"index\":-1,\"sure\":true,\"why\":\"对不上\"}") << -1 << true;
        QTest::newRow("past the list, sure") << QStringLiteral("{\"index\":5,\"sure\":true}") << -1 << true;
        QTest::newRow("not sure") << QStringLiteral("{\"index\":1,\"sure\":false}") << -1 << false;
        QTest::newRow("no braces") << QStringLiteral("第二个") << -1 << false;
        QTest::newRow("index as a string") << QStringLiteral("{\"index\":\"1\",\"sure\":true}") << -1 << true;
        QTest::newRow("index missing") << QStringLiteral("{\"sure\":true}") << -1 << true;
        QTest::newRow("fractional index") << QStringLiteral("{\"index\":1.9,\"sure\":true}") << 1 << true;
        QTest::newRow("huge index") << QStringLiteral("{\"index\":1e300,\"sure\":true}") << -1 << true;
        QTest::newRow("sure as a string") << QStringLiteral("{\"index\":0,\"sure\":\"true\"}") << -1 << false;
        QTest::newRow("sure missing") << QStringLiteral("{\"index\":0}") << -1 << false;
        QTest::newRow("code fence and remark")
            << QStringLiteral("```json\n{\"index\":0,\"sure\":true,\"why\":\"标题对上了\"}\n```\n以上。") << 0 << true;
        QTest::newRow("braces reversed") << QStringLiteral("}\"index\":0,\"sure\":true{") << -1 << false;
        QTest::newRow("not JSON between braces") << QStringLiteral("{index: 0, sure: true}") << -1 << false;
        QTest::newRow("array inside") << QStringLiteral("x [{\"index\":0,\"sure\":true}] y") << 0 << true;
    }
    void parseReply()
    {
        QFETCH(QString, reply);
        QFETCH(int, tab);
        QFETCH(bool, decided);
        const QList<Tab> shownTabs{::tab("https://a.org/", "A"), ::tab("https://b.org/", "B")};
        const BrowserTabs::Answer answer = BrowserTabs::parse(reply, shownTabs);
        QCOMPARE(answer.decided, decided);
        QCOMPARE(answer.tab.has_value(), tab >= 0);
        if (tab >= 0)
            QCOMPARE(*answer.tab, shownTabs.at(tab));
    }
};

DODEDAROV_TEST(BrowserTabsTest)
#include "BrowserTabsTest.moc"
