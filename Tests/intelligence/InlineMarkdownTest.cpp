#include "TestMain.h"

#include "intelligence/InlineMarkdown.h"

#include <QTest>

// The inline marks of chat answers: which take effect, which stay as typed, and that blanks,
// line breaks and HTML in an answer come through as characters.
class InlineMarkdownTest final : public QObject {
    Q_OBJECT

private slots:
    void toHtml_data();
    void toHtml();
    void linkSpanKeepsStyle();
};

void InlineMarkdownTest::toHtml_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");

    const auto row = [](const char *name, const QString &text, const QString &html) {
        QTest::newRow(name) << text << html;
    };
    row("empty", QString(), QString());
    row("plain", QStringLiteral("没有标记"), QStringLiteral("没有标记"));
    row("strong stars", QStringLiteral("是**粗体**吗"), QStringLiteral("是<b>粗体</b>吗"));
    row("strong underscores", QStringLiteral("__粗体__"), QStringLiteral("<b>粗体</b>"));
    row("emphasis star", QStringLiteral("an *em* word"), QStringLiteral("an <i>em</i> word"));
    row("emphasis underscore", QStringLiteral("an _em_ word"), QStringLiteral("an <i>em</i> word"));
    row("strong and emphasis", QStringLiteral("***两者***"), QStringLiteral("<b><i>两者</i></b>"));
    row("emphasis inside strong", QStringLiteral("**a *b* c**"),
        QStringLiteral("<b>a </b><b><i>b</i></b><b> c</b>"));
    row("star inside a word", QStringLiteral("a*b*c"), QStringLiteral("a<i>b</i>c"));
    row("code keeps marks", QStringLiteral("用 `a **b** <c>` 吧"),
        QStringLiteral("用 <code>a **b** &lt;c&gt;</code> 吧"));
    row("double backtick code", QStringLiteral("``a ` b``"), QStringLiteral("<code>a ` b</code>"));
    row("bold around Chinese quotes", QStringLiteral("这是**“重点”**内容"),
        QStringLiteral("这是<b>“重点”</b>内容"));
    row("bold around a Chinese comma", QStringLiteral("**结论，**后面"), QStringLiteral("<b>结论，</b>后面"));

    row("https link", QStringLiteral("见[网站](https://example.com/a?b=1&c=2)。"),
        QStringLiteral("见<a href=\"https://example.com/a?b=1&amp;c=2\">网站</a>。"));
    row("http link with marks", QStringLiteral("[**粗**](http://example.org)"),
        QStringLiteral("<a href=\"http://example.org\"><b>粗</b></a>"));
    row("mailto link", QStringLiteral("[写信](mailto:someone@example.com)"),
        QStringLiteral("<a href=\"mailto:someone@example.com\">写信</a>"));
    row("link with parentheses", QStringLiteral("[w](https://en.example.org/wiki/A_(b))"),
        QStringLiteral("<a href=\"https://en.example.org/wiki/A_(b)\">w</a>"));
    row("javascript target", QStringLiteral("[x](javascript:alert(1))"), QStringLiteral("[x](javascript:alert(1))"));
    row("file target", QStringLiteral("[x](file:///etc/passwd)"), QStringLiteral("[x](file:///etc/passwd)"));
    row("relative target", QStringLiteral("[x](notes.txt)"), QStringLiteral("[x](notes.txt)"));
    row("target with a blank", QStringLiteral("[x](http://a b)"), QStringLiteral("[x](http://a b)"));
    row("target with a quote", QStringLiteral("[x](http://a\"onclick=1)"),
        QStringLiteral("[x](http://a&quot;onclick=1)"));
    row("http without host", QStringLiteral("[x](http:)"), QStringLiteral("[x](http:)"));
    row("empty link text", QStringLiteral("[](https://example.com)"), QStringLiteral("[](https://example.com)"));
    row("brackets alone", QStringLiteral("[注1] 和 [a](b"), QStringLiteral("[注1] 和 [a](b"));

    row("heading", QStringLiteral("# 标题"), QStringLiteral("# 标题"));
    row("list item", QStringLiteral("- 项目"), QStringLiteral("- 项目"));
    row("star list item", QStringLiteral("* 项目"), QStringLiteral("* 项目"));
    row("quote", QStringLiteral("> 引用"), QStringLiteral("&gt; 引用"));
    row("numbered item", QStringLiteral("1. 第一"), QStringLiteral("1. 第一"));

    row("unmatched strong", QStringLiteral("**没有结束"), QStringLiteral("**没有结束"));
    row("unmatched emphasis", QStringLiteral("a *b"), QStringLiteral("a *b"));
    row("unmatched code", QStringLiteral("a `b"), QStringLiteral("a `b"));
    row("different run lengths", QStringLiteral("**a*"), QStringLiteral("**a*"));
    row("blank after opener", QStringLiteral("** 不是 **"), QStringLiteral("** 不是 **"));
    row("blank before closer", QStringLiteral("*a *"), QStringLiteral("*a *"));
    row("blank inside code edges", QStringLiteral("` a `"), QStringLiteral("` a `"));
    row("four stars", QStringLiteral("****a****"), QStringLiteral("****a****"));
    row("snake_case", QStringLiteral("call snake_case_name now"), QStringLiteral("call snake_case_name now"));
    row("underscore closes before a letter", QStringLiteral("_a_b"), QStringLiteral("_a_b"));
    // The closer here is fine (nothing follows it): only the opener inside a word is refused.
    row("underscore opens after a letter", QStringLiteral("foo_bar_"), QStringLiteral("foo_bar_"));
    row("emphasis underscore", QStringLiteral("an _em_ word"), QStringLiteral("an <i>em</i> word"));
    row("escaped marks", QStringLiteral("\\*不是\\* \\_ \\`"), QStringLiteral("*不是* _ `"));
    row("backslash before a letter", QStringLiteral("C:\\path\\to"), QStringLiteral("C:\\path\\to"));

    row("blanks and line breaks", QStringLiteral("a  b\n\n  c\t d "),
        QStringLiteral("a  b<br><br>  c\t d "));
    row("strong never crosses a line", QStringLiteral("**a\nb**"), QStringLiteral("**a<br>b**"));
    row("html as typed", QStringLiteral("<b>x</b> &amp; <script>"),
        QStringLiteral("&lt;b&gt;x&lt;/b&gt; &amp;amp; &lt;script&gt;"));
}

void InlineMarkdownTest::toHtml()
{
    QFETCH(QString, text);
    QFETCH(QString, html);
    const QString open = QStringLiteral("<span style=\"white-space: pre-wrap;\">");
    const QString close = QStringLiteral("</span>");
    const QString result = InlineMarkdown::toHtml(text);
    QVERIFY(result.startsWith(open));
    QVERIFY(result.endsWith(close));
    QCOMPARE(result.mid(open.size(), result.size() - open.size() - close.size()), html);
}

void InlineMarkdownTest::linkSpanKeepsStyle()
{
    const QList<InlineMarkdown::Span> spans
        = InlineMarkdown::spans(u"**见 [这里](https://example.com) 吧**");
    QCOMPARE(spans.size(), 3);
    QCOMPARE(spans.at(0), (InlineMarkdown::Span {QStringLiteral("见 "), true, false, false, QString()}));
    QCOMPARE(spans.at(1), (InlineMarkdown::Span {QStringLiteral("这里"), true, false, false,
                                                 QStringLiteral("https://example.com")}));
    QCOMPARE(spans.at(2), (InlineMarkdown::Span {QStringLiteral(" 吧"), true, false, false, QString()}));
}

DODEDAROV_TEST(InlineMarkdownTest)
#include "InlineMarkdownTest.moc"
