#include "TestMain.h"

#include "intelligence/BackgroundLogic.h"
#include "intelligence/SessionNotes.h"
#include "translation/Glossary.h"

namespace {

const QString kNotesHeading = QStringLiteral(
    "\n\n【本场说明】（用户在会中随时补充的，翻译时照办：人名写法、术语译法、“听成 X 其实是 Y”的纠错、翻译要求）：\n");

SessionNote note(int id, const QString &text, const SessionBackground &extracted = {})
{
    SessionNote n;
    n.id = id;
    n.text = text;
    n.extracted = extracted;
    return n;
}

SessionBackground background(const QString &title, const QString &summary, const QStringList &names,
                             const QList<GlossaryEntry> &terms = {})
{
    SessionBackground bg;
    bg.title = title;
    bg.summary = summary;
    bg.names = names;
    bg.terms = terms;
    return bg;
}

QStringList pairs(const QList<GlossaryEntry> &entries)
{
    QStringList out;
    for (const GlossaryEntry &e : entries)
        out.append(e.english + u'=' + e.chinese);
    return out;
}

} // namespace

Q_DECLARE_METATYPE(std::optional<QString>)

class SessionNotesTest final : public QObject {
    Q_OBJECT

private slots:
    void mergedTakesFirstTitleAndFirstSpelling()
    {
        const QList<SessionNote> notes{
            note(1, QStringLiteral("a"), background(QString(), QStringLiteral("第一段。"), {QStringLiteral("Jensen Huang"), QStringLiteral("NVIDIA")})),
            note(2, QStringLiteral("b"), background(QStringLiteral("发布会"), QString(), {QStringLiteral("jensen-huang")})),
            note(3, QStringLiteral("c"), background(QStringLiteral("别的主题"), QStringLiteral("第二段。"), {QStringLiteral("Lisa Su"), QStringLiteral("Nvidia!")})),
        };
        const SessionBackground merged = SessionNotes::merged(notes);
        QCOMPARE(merged.title, QStringLiteral("发布会"));
        QCOMPARE(merged.summary, QStringLiteral("第一段。 第二段。"));
        QCOMPARE(merged.names, (QStringList{"Jensen Huang", "NVIDIA", "Lisa Su"}));
        QVERIFY(SessionNotes::merged({}).isEmpty());
    }

    void mergedTermsLetTheNewestRenderingWin()
    {
        const GlossaryEntry oldGpu(QStringLiteral("GPU"), QStringLiteral("图形卡"));
        const GlossaryEntry llm(QStringLiteral("LLM"), QStringLiteral("大模型"));
        const GlossaryEntry newGpu(QStringLiteral("gpu."), QStringLiteral("图形处理器"));
        const QList<SessionNote> notes{
            note(1, QStringLiteral("a"), background({}, {}, {}, {oldGpu, llm})),
            note(2, QStringLiteral("b"), background({}, {}, {}, {newGpu})),
        };
        const SessionBackground merged = SessionNotes::merged(notes);
        QCOMPARE(pairs(merged.terms), (QStringList{"LLM=大模型", "gpu.=图形处理器"}));
        QCOMPARE(merged.terms.last().id, newGpu.id);

        // A term replaced again and again, within one note too, is kept once, at its newest place.
        const auto entry = [](const char *english, const char *chinese) {
            return GlossaryEntry(QString::fromUtf8(english), QString::fromUtf8(chinese));
        };
        const SessionBackground again = SessionNotes::merged({
            note(1, QStringLiteral("a"), background({}, {}, {}, {entry("GPU", "一"), entry("LLM", "二"), entry("gpu", "三")})),
            note(2, QStringLiteral("b"), background({}, {}, {}, {entry("Gpu!", "四"), entry("TPU", "五")})),
            note(3, QStringLiteral("c"), background({}, {}, {}, {entry("llm", "六"), entry("G.P.U", "七")})),
        });
        QCOMPARE(pairs(again.terms), (QStringList{"Gpu!=四", "TPU=五", "llm=六", "G.P.U=七"}));
    }

    void mergedSummaryIsCappedInCharacters()
    {
        QList<SessionNote> notes;
        for (int i = 0; i < 12; ++i)
            notes.append(note(i, QStringLiteral("n"), background({}, QString(50, u'长'), {})));
        QCOMPARE(Glossary::length(SessionNotes::merged(notes).summary), 400);

        // The cut falls on a whole character: an emoji with a skin tone is one.
        const QString emoji = QStringLiteral("👍🏽");
        const QString first = QString(399, u'a');
        const SessionBackground capped = SessionNotes::merged(
            {note(1, QStringLiteral("n"), background({}, first, {})),
             note(2, QStringLiteral("n"), background({}, emoji + emoji, {}))});
        // 399 letters, then the blank that joins the summaries, and nothing of the emoji.
        QCOMPARE(capped.summary, first + u' ');
        const SessionBackground fits = SessionNotes::merged(
            {note(1, QStringLiteral("n"), background({}, QString(398, u'a'), {})),
             note(2, QStringLiteral("n"), background({}, emoji + emoji, {}))});
        QCOMPARE(fits.summary, QString(398, u'a') + u' ' + emoji);
    }

    void quickTerms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("full-width semicolon and full-width equals")
            << QStringLiteral("GPU = 图形处理器；TPU ＝ 张量处理器") << QStringList{"GPU=图形处理器", "TPU=张量处理器"};
        QTest::newRow("line feeds and ascii semicolons")
            << QStringLiteral("A = 甲\n会议笔记\nB = 乙; C=丙") << QStringList{"A=甲", "B=乙", "C=丙"};
        QTest::newRow("chinese in the english side gives nothing")
            << QStringLiteral("GPU芯片 = 图形处理器") << QStringList{};
        QTest::newRow("query string of a link is no definition")
            << QStringLiteral("视频 https://www.youtube.com/watch?v=abc&t=3") << QStringList{};
        QTest::newRow("link beside a definition")
            << QStringLiteral("https://example.com/?a=b\nLLM = 大模型") << QStringList{"LLM=大模型"};
        QTest::newRow("no equals sign") << QStringLiteral("今天讲芯片") << QStringList{};
        QTest::newRow("empty") << QString() << QStringList{};
    }

    void quickTerms()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(pairs(SessionNotes::quickTerms(text)), expected);
    }

    void promptBlock_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("lines");

        const QString k1000(1000, u'一');
        const QString k800(800, u'二');
        const QString k400(400, u'三');
        QTest::newRow("no notes") << QStringList{} << QStringList{};
        QTest::newRow("a note that does not fit is skipped, a later one still fits")
            << QStringList{k1000, k800, k400} << QStringList{"- " + k1000, "- " + k400};
        QTest::newRow("exactly 1500 characters fit")
            << QStringList{k1000, QString(500, u'四'), QStringLiteral("x")}
            << QStringList{"- " + k1000, "- " + QString(500, u'四')};
        // 1499 letters and one emoji are 1500 characters, though 1503 UTF-16 units.
        QTest::newRow("characters, not code units")
            << QStringList{QString(1499, u'a') + QStringLiteral("👍🏽")}
            << QStringList{"- " + QString(1499, u'a') + QStringLiteral("👍🏽")};
        QTest::newRow("a note that is only a link")
            << QStringList{QStringLiteral("https://example.com/talk?id=3")} << QStringList{};
        QTest::newRow("link with chinese punctuation around it")
            << QStringList{QStringLiteral("议程见https://example.com/agenda。按议程翻译")}
            << QStringList{QStringLiteral("- 议程见。按议程翻译")};
        QTest::newRow("link inside full-width brackets, removed everywhere")
            << QStringList{QStringLiteral("（https://example.com/a）。再看 https://example.com/a 一次")}
            << QStringList{QStringLiteral("- （）。再看  一次")};
        QTest::newRow("line feeds become semicolons, blank notes skipped")
            << QStringList{QStringLiteral("  第一行\n第二行 "), QStringLiteral(" \n\u3000")}
            << QStringList{QStringLiteral("- 第一行；第二行")};
    }

    void promptBlock()
    {
        QFETCH(QStringList, texts);
        QFETCH(QStringList, lines);
        QList<SessionNote> notes;
        for (const QString &text : texts)
            notes.append(note(int(notes.size()), text));
        const QString expected = lines.isEmpty() ? QString() : kNotesHeading + lines.join(u'\n');
        QCOMPARE(SessionNotes::promptBlock(notes), expected);
    }

    void link_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<QString>>("expected");

        QTest::newRow("no link") << QStringLiteral("没有链接") << std::optional<QString>();
        QTest::newRow("chinese comma ends it")
            << QStringLiteral("看这个https://example.com/a，然后") << std::optional<QString>("https://example.com/a");
        QTest::newRow("chinese quotes around it")
            << QStringLiteral("“https://example.com/q”") << std::optional<QString>("https://example.com/q");
        QTest::newRow("query string kept, sentence punctuation dropped")
            << QStringLiteral("See (https://example.com/watch?v=1&t=2s).")
            << std::optional<QString>("https://example.com/watch?v=1&t=2s");
        QTest::newRow("full-width bracket dropped")
            << QStringLiteral("（链接：http://example.org/x）") << std::optional<QString>("http://example.org/x");
        QTest::newRow("first of two links")
            << QStringLiteral("https://a.example/1 https://b.example/2") << std::optional<QString>("https://a.example/1");
        QTest::newRow("no host") << QStringLiteral("https://?x") << std::optional<QString>();
        QTest::newRow("only punctuation after the scheme") << QStringLiteral("https://).") << std::optional<QString>();
        QTest::newRow("scheme is case-sensitive") << QStringLiteral("HTTPS://example.com") << std::optional<QString>();
    }

    void link()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<QString>, expected);
        QCOMPARE(BackgroundLogic::linkText(text), expected);
        const std::optional<QUrl> url = BackgroundLogic::link(text);
        QCOMPARE(url.has_value(), expected.has_value());
        if (url) {
            QVERIFY(!url->host().isEmpty());
            QCOMPARE(url->host(), QUrl(*expected).host());
        }
    }

    void autoReadable_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("readable");

        QTest::newRow("video page") << QStringLiteral("https://www.youtube.com/watch?v=abc") << true;
        QTest::newRow("conference page") << QStringLiteral("https://example.org/sessions/keynote") << true;
        QTest::newRow("pay inside a longer host word") << QStringLiteral("https://www.paypal.com/") << false;
        QTest::newRow("mail inside a longer host word") << QStringLiteral("https://gmail.com/") << false;
        QTest::newRow("word in the path") << QStringLiteral("https://example.com/user/Settings/profile") << false;
        QTest::newRow("api keys page") << QStringLiteral("https://platform.example.com/api-keys") << false;
        QTest::newRow("sign-in page") << QStringLiteral("https://example.com/sign-in") << false;
        QTest::newRow("upper case host") << QStringLiteral("https://CONSOLE.example.com/") << false;
        QTest::newRow("query is not looked at") << QStringLiteral("https://example.com/talk?ref=login") << true;
        QTest::newRow("fragment is not looked at") << QStringLiteral("https://example.com/talk#cart") << true;
        QTest::newRow("no host, path alone") << QStringLiteral("file:///home/me/orders.html") << false;
        QTest::newRow("no host, harmless path") << QStringLiteral("file:///home/me/talk.html") << true;
    }

    void autoReadable()
    {
        QFETCH(QString, url);
        QFETCH(bool, readable);
        QCOMPARE(SessionNotes::autoReadable(QUrl(url)), readable);
    }
};

DODEDAROV_TEST(SessionNotesTest)
#include "SessionNotesTest.moc"
