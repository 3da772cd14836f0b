#include "TestMain.h"

#include "display/FloatingWindow.h"
#include "fakes/ManualDeepSeekServer.h"
#include "fakes/ModelRig.h"
#include "shell/chat/ChatBubble.h"
#include "shell/chat/ChatInput.h"
#include "shell/chat/ChatView.h"
#include "shell/chat/ChatWindowController.h"
#include "shell/MenuContent.h"
#include "translation/DeepSeekTransport.h"
#include "platform/Keychain.h"

#include <QCheckBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextFrame>
#include <QToolButton>

#include <limits>
#include <memory>

namespace {

CaptionLine finishedLine(int id)
{
    CaptionLine line;
    line.id = id;
    line.english = QStringLiteral("We replace the valve.");
    line.chinese = QStringLiteral("我们置换瓣膜。");
    line.finished = true;
    line.time = QDateTime(QDate(2026, 5, 4), QTime(9, 31, id));
    return line;
}

// A model that can be asked, and a chat service that holds every answer open until the test
// writes it.
struct AskingRig {
    ModelRig rig;
    ManualDeepSeekServer server;
    AppModel *model = nullptr;

    explicit AskingRig(bool withKey = true)
    {
        if (!server.listen())
            qFatal("the chat stand-in could not listen");
        DeepSeekTransport::baseAddress = server.baseUrl(); // the rig puts it back
        if (withKey)
            ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-test"));
        model = &rig.make();
        rig.setLines({finishedLine(0)});
    }

    // Asks and waits until the request is open at the service.
    bool askAndHold(const QString &question)
    {
        QSignalSpy request(&server, &ManualDeepSeekServer::requestReceived);
        model->askMeeting(question);
        return request.wait(20000);
    }
};

ChatMessage message(int id, bool fromUser, const QString &text, bool pending = false, bool failed = false)
{
    return ChatMessage {id, fromUser, text, pending, failed};
}

// The colours the text of a bubble is drawn in.
QSet<QRgb> textColours(const QTextDocument *document)
{
    QSet<QRgb> colours;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it)
            colours.insert(it.fragment().charFormat().foreground().color().rgb());
    }
    return colours;
}

QStringList anchors(const QTextDocument *document)
{
    QStringList out;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor() || !format.anchorHref().isEmpty())
                out << format.anchorHref();
        }
    }
    return out;
}

bool holdsImage(const QTextDocument *document)
{
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            if (it.fragment().charFormat().isImageFormat())
                return true;
        }
    }
    return false;
}

QAction *menuEntry(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

// The chat window over a real meeting model, offscreen: what is enabled in each state of the
// conversation, what sending does, how answers stream into their bubbles and that an answer's
// HTML never becomes markup.
class ChatViewTest final : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void states_data();
    void states();
    void waitingThenStreamingThenCleared();
    void failedAnswersAreRed_data();
    void failedAnswersAreRed();
    void send_data();
    void send();
    void returnKeys();
    void inputGrowsToFourLines();
    void chipAsksAndLeavesTheField();
    void webSearchBoundBothWays();
    void streamingRendersOnlyTheLastLine();
    void scrollsOnlyAfterShown();
    void noRawHtmlReachesTheView();
    void oneWindowFromTheMenu();
};

void ChatViewTest::cleanup()
{
    ChatWindowController::shared().reset();
    ChatWindowController::model = nullptr;
}

enum class Setup { nothingYet, canChat, busy, answered };
Q_DECLARE_METATYPE(Setup)

void ChatViewTest::states_data()
{
    QTest::addColumn<Setup>("setup");
    QTest::addColumn<QString>("subtitle");
    QTest::addColumn<bool>("inputEnabled");
    QTest::addColumn<bool>("sendEnabled");
    QTest::addColumn<bool>("clearEnabled");
    QTest::addColumn<bool>("chipsEnabled");
    QTest::addColumn<bool>("suggestions");

    const QString empty = QStringLiteral("这场会议还没有内容");
    const QString ready = QStringLiteral("根据本场会议记录回答（包括自动研究和纠正）");
    QTest::newRow("empty, nothing to ask about") << Setup::nothingYet << empty << false << false << false << false << true;
    QTest::newRow("empty, can chat") << Setup::canChat << ready << true << true << false << true << true;
    QTest::newRow("busy") << Setup::busy << ready << true << false << false << false << false;
    QTest::newRow("answered") << Setup::answered << ready << true << true << true << true << false;
}

void ChatViewTest::states()
{
    QFETCH(Setup, setup);
    QFETCH(QString, subtitle);
    QFETCH(bool, inputEnabled);
    QFETCH(bool, sendEnabled);
    QFETCH(bool, clearEnabled);
    QFETCH(bool, chipsEnabled);
    QFETCH(bool, suggestions);

    AskingRig asking(setup != Setup::answered);
    AppModel &model = *asking.model;
    if (setup == Setup::nothingYet)
        asking.rig.setLines({});
    ChatView view(model);
    view.show();
    if (setup == Setup::busy)
        QVERIFY(asking.askAndHold(QStringLiteral("讲了什么？")));
    if (setup == Setup::answered)
        model.askMeeting(QStringLiteral("讲了什么？")); // no key: a failed answer at once

    view.input()->setPlainText(QStringLiteral("还有问题"));
    QCOMPARE(view.subtitle()->text(), subtitle);
    QCOMPARE(view.input()->placeholderText(),
             setup == Setup::nothingYet ? QStringLiteral("开始一场会议后可以提问")
                                        : QStringLiteral("问点什么，比如“SYNCHRONOUS 研究的结论是什么？”"));
    QCOMPARE(view.input()->isEnabled(), inputEnabled);
    QCOMPARE(view.sendButton()->isEnabled(), sendEnabled);
    QCOMPARE(view.clearButton()->isEnabled(), clearEnabled);
    QCOMPARE(view.clearButton()->toolTip(), QStringLiteral("清空问答"));
    QCOMPARE(view.suggestionsBlock()->isVisibleTo(&view), suggestions);
    QStringList chipTexts;
    for (QPushButton *chip : view.chips()) {
        QCOMPARE(chip->isEnabled(), chipsEnabled);
        chipTexts << chip->text();
    }
    QCOMPARE(chipTexts, ChatView::suggestions());
    QCOMPARE(chipTexts.first(), QStringLiteral("用几句话总结这场会议"));
    QCOMPARE(chipTexts.last(), QStringLiteral("有哪些值得追问或存疑的地方？"));

    if (setup == Setup::busy) {
        // The field stays editable; Return neither sends nor drops what was typed.
        QTest::keyClick(view.input(), Qt::Key_Return);
        QCOMPARE(view.input()->toPlainText(), QStringLiteral("还有问题"));
        QCOMPARE(asking.server.count(), 1);
        QCOMPARE(model.chatMessages().size(), 2);
        // Clearing while an answer is outstanding changes nothing.
        view.clearButton()->click();
        QCOMPARE(model.chatMessages().size(), 2);
    }
}

void ChatViewTest::waitingThenStreamingThenCleared()
{
    AskingRig asking;
    AppModel &model = *asking.model;
    ChatView view(model);
    QVERIFY(asking.askAndHold(QStringLiteral("讲了什么？")));
    QCOMPARE(view.bubbles().size(), 2);
    ChatBubble *answer = view.bubble(model.chatMessages().at(1).id);
    QVERIFY(answer);
    QVERIFY(answer->showsWaiting());
    QCOMPARE(answer->findChild<QLabel *>(QStringLiteral("waitingText"))->text(), QStringLiteral("正在看记录…"));
    QVERIFY(!view.bubble(model.chatMessages().at(0).id)->showsWaiting());
    QCOMPARE(view.bubble(model.chatMessages().at(0).id)->browser()->toPlainText(), QStringLiteral("讲了什么？"));

    asking.server.delta(0, QStringLiteral("讲了**瓣膜**"));
    QTRY_COMPARE_WITH_TIMEOUT(answer->browser()->toPlainText(), QStringLiteral("讲了瓣膜"), 20000);
    QVERIFY(!answer->showsWaiting());
    QVERIFY(!view.clearButton()->isEnabled());
    asking.server.finish(0);
    QTRY_VERIFY_WITH_TIMEOUT(!model.chatBusy(), 20000);
    QCOMPARE(view.bubbles().at(1), answer);
    QVERIFY(view.clearButton()->isEnabled());

    view.clearButton()->click();
    QVERIFY(model.chatMessages().isEmpty());
    QVERIFY(view.bubbles().isEmpty());
    QVERIFY(view.suggestionsBlock()->isVisibleTo(&view));
    QVERIFY(!view.clearButton()->isEnabled());
}

void ChatViewTest::failedAnswersAreRed_data()
{
    QTest::addColumn<bool>("withKey");
    QTest::addColumn<QString>("start");
    QTest::newRow("no key") << false << QStringLiteral("还没有填 DeepSeek 的 API Key，没法回答。");
    QTest::newRow("cut short") << true << QStringLiteral("讲了一半\n\n（回答中断：");
}

void ChatViewTest::failedAnswersAreRed()
{
    QFETCH(bool, withKey);
    QFETCH(QString, start);
    AskingRig asking(withKey);
    AppModel &model = *asking.model;
    // Without web search a failure is not retried, so what arrived before it stays.
    model.setChatWebSearch(false);
    ChatView view(model);
    if (withKey) {
        QVERIFY(asking.askAndHold(QStringLiteral("讲了什么？")));
        asking.server.delta(0, QStringLiteral("讲了一半"));
        QTRY_COMPARE_WITH_TIMEOUT(model.chatMessages().at(1).text, QStringLiteral("讲了一半"), 20000);
        asking.server.drop(0);
        QTRY_VERIFY_WITH_TIMEOUT(!model.chatBusy(), 20000);
    } else {
        model.askMeeting(QStringLiteral("讲了什么？"));
    }
    QVERIFY(model.chatMessages().at(1).failed);
    ChatBubble *answer = view.bubbles().at(1);
    QCOMPARE(answer->browser()->toPlainText(), model.chatMessages().at(1).text);
    QVERIFY(model.chatMessages().at(1).text.startsWith(start));
    QCOMPARE(textColours(answer->browser()->document()), QSet<QRgb> {ChatBubble::failedColor().rgb()});
    QVERIFY(!textColours(view.bubbles().at(0)->browser()->document()).contains(ChatBubble::failedColor().rgb()));
}

void ChatViewTest::send_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("buttonEnabled");
    QTest::addColumn<bool>("asks");

    QTest::newRow("empty") << QString() << false << false << false;
    QTest::newRow("spaces") << QStringLiteral("  \t") << false << false << false;
    QTest::newRow("line breaks") << QStringLiteral("\n\n") << false << true << false;
    QTest::newRow("question") << QStringLiteral("  讲了什么？\n") << false << true << true;
    QTest::newRow("busy") << QStringLiteral("讲了什么？") << true << false << false;
}

void ChatViewTest::send()
{
    QFETCH(QString, typed);
    QFETCH(bool, busy);
    QFETCH(bool, buttonEnabled);
    QFETCH(bool, asks);

    // Without a key a question is answered at once with a failure: nothing stays busy.
    AskingRig asking(busy);
    AppModel &model = *asking.model;
    ChatView view(model);
    if (busy)
        QVERIFY(asking.askAndHold(QStringLiteral("第一问")));
    const qsizetype before = model.chatMessages().size();

    view.input()->setPlainText(typed);
    QCOMPARE(view.sendButton()->isEnabled(), buttonEnabled);
    view.send();
    if (asks) {
        QVERIFY(view.input()->toPlainText().isEmpty());
        QCOMPARE(model.chatMessages().size(), before + 2);
        QCOMPARE(model.chatMessages().at(before).text, QStringLiteral("讲了什么？"));
        QVERIFY(model.chatMessages().at(before).fromUser);
    } else {
        QCOMPARE(view.input()->toPlainText(), typed);
        QCOMPARE(model.chatMessages().size(), before);
    }
    QCOMPARE(asking.server.count(), busy ? 1 : 0);
}

void ChatViewTest::returnKeys()
{
    AskingRig asking(false);
    AppModel &model = *asking.model;
    ChatView view(model);
    view.show();
    ChatInput *input = view.input();

    input->setPlainText(QStringLiteral("第一行"));
    input->moveCursor(QTextCursor::End);
    QTest::keyClick(input, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(input->toPlainText(), QStringLiteral("第一行\n"));
    QCOMPARE(input->document()->blockCount(), 2);
    QVERIFY(model.chatMessages().isEmpty());

    // Typing pinyin: Return finishes the composition, it does not send.
    QInputMethodEvent composing(QStringLiteral("jiang"), {});
    QCoreApplication::sendEvent(input, &composing);
    QTest::keyClick(input, Qt::Key_Return);
    QVERIFY(model.chatMessages().isEmpty());
    QInputMethodEvent committed;
    committed.setCommitString(QStringLiteral("讲"));
    QCoreApplication::sendEvent(input, &committed);
    QCOMPARE(input->toPlainText(), QStringLiteral("第一行\n讲"));

    QTest::keyClick(input, Qt::Key_Enter, Qt::KeypadModifier);
    QVERIFY(input->toPlainText().isEmpty());
    QCOMPARE(model.chatMessages().size(), 2);
    QCOMPARE(model.chatMessages().first().text, QStringLiteral("第一行\n讲"));
}

void ChatViewTest::inputGrowsToFourLines()
{
    AskingRig asking(false);
    ChatView view(*asking.model);
    view.resize(520, 640);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    ChatInput *input = view.input();
    QCOMPARE(input->shownLines(), 1);
    const int oneLine = input->height();
    input->setPlainText(QStringLiteral("一\n二"));
    QCOMPARE(input->shownLines(), 2);
    QVERIFY(input->height() > oneLine);
    input->setPlainText(QStringLiteral("一\n二\n三\n四\n五\n六"));
    QCOMPARE(input->shownLines(), ChatInput::maxLines);
    const int four = input->height();
    input->setPlainText(QStringLiteral("一\n二\n三\n四\n五\n六\n七\n八"));
    QCOMPARE(input->height(), four);
    input->clear();
    QCOMPARE(input->shownLines(), 1);
    QCOMPARE(input->height(), oneLine);
}

void ChatViewTest::chipAsksAndLeavesTheField()
{
    AskingRig asking(false);
    AppModel &model = *asking.model;
    ChatView view(model);
    view.input()->setPlainText(QStringLiteral("写了一半"));
    view.chips().at(3)->click();
    QCOMPARE(model.chatMessages().size(), 2);
    QCOMPARE(model.chatMessages().first().text, QStringLiteral("列出专业术语的中英对照"));
    QCOMPARE(view.input()->toPlainText(), QStringLiteral("写了一半"));
    QVERIFY(!view.suggestionsBlock()->isVisibleTo(&view));
}

void ChatViewTest::webSearchBoundBothWays()
{
    AskingRig asking(false);
    AppModel &model = *asking.model;
    ChatView view(model);
    QCheckBox *box = view.webSearchBox();
    QCOMPARE(box->text(), QStringLiteral("可联网查资料"));
    QVERIFY(box->isChecked());
    box->click();
    QVERIFY(!model.chatWebSearch());
    model.setChatWebSearch(true);
    QVERIFY(box->isChecked());
}

void ChatViewTest::streamingRendersOnlyTheLastLine()
{
    AskingRig asking(false);
    ChatView view(*asking.model);
    view.resize(520, 640);
    view.show();
    ChatView::State state;
    state.canChat = true;
    state.messages = {message(0, true, QStringLiteral("问")), message(1, false, QStringLiteral("第一行\n第二"), true)};
    view.apply(state);
    ChatBubble *answer = view.bubble(1);
    QCOMPARE(answer->fullRenders(), 1);
    QTextDocument *document = answer->browser()->document();
    QCOMPARE(document->blockCount(), 2);
    const int lastLine = document->lastBlock().position();

    int earliestChange = std::numeric_limits<int>::max();
    connect(document, &QTextDocument::contentsChange, this,
            [&](int position, int, int) { earliestChange = std::min(earliestChange, position); });
    state.messages[1].text += QStringLiteral("行**粗**\n第三行");
    view.apply(state);
    state.messages[1].text += QStringLiteral("继续");
    view.apply(state);
    QCOMPARE(answer->fullRenders(), 1);
    QCOMPARE(earliestChange, lastLine);
    QCOMPARE(document->toPlainText(), QStringLiteral("第一行\n第二行粗\n第三行继续"));
    QCOMPARE(document->findBlockByNumber(1).begin().fragment().text(), QStringLiteral("第二行"));
    QTextBlock::iterator bold = document->findBlockByNumber(1).begin();
    ++bold;
    QCOMPARE(bold.fragment().text(), QStringLiteral("粗"));
    QCOMPARE(bold.fragment().charFormat().fontWeight(), int(QFont::Bold));
    QCOMPARE(view.bubble(0)->fullRenders(), 1);
    QCOMPARE(view.bubbles().size(), 2);

    // A retry empties the answer: that is no extension, so it is drawn afresh.
    state.messages[1].text.clear();
    view.apply(state);
    QVERIFY(answer->showsWaiting());
    QCOMPARE(answer->fullRenders(), 2);
    QCOMPARE(view.bubble(1), answer);
}

void ChatViewTest::scrollsOnlyAfterShown()
{
    AskingRig asking(false);
    ChatView view(*asking.model);
    ChatView::State state;
    state.canChat = true;
    for (int i = 0; i < 30; ++i)
        state.messages.append(message(i, i % 2 == 0, QStringLiteral("第%1条消息，内容不算短。").arg(i)));
    view.apply(state);
    view.resize(420, 420);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QScrollBar *bar = view.scrollArea()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 0); // the first show does not scroll

    state.messages.last().text += QStringLiteral("\n又多了一行。\n再多一行。");
    view.apply(state);
    QTRY_COMPARE(bar->value(), bar->maximum());
    const int bottom = bar->maximum();

    // Scrolled away by the user, then nothing changes: it stays where the user put it.
    bar->setValue(0);
    state.busy = true;
    view.apply(state);
    QCoreApplication::processEvents();
    QCOMPARE(bar->value(), 0);

    // A new message brings the view down to it again.
    state.messages.append(message(30, true, QStringLiteral("新问题")));
    view.apply(state);
    QTRY_VERIFY(bar->value() == bar->maximum() && bar->maximum() > bottom);
}

void ChatViewTest::noRawHtmlReachesTheView()
{
    AskingRig asking(false);
    ChatView view(*asking.model);
    const QStringList hostile = {
        QStringLiteral("<script>alert(1)</script>"),
        QStringLiteral("<img src=x onerror=alert(1)>"),
        QStringLiteral("<a href=\"file:///etc/passwd\">密码</a>"),
        QStringLiteral("<b>粗</b> &amp; &lt;"),
        QStringLiteral("<table><tr><td>格</td></tr></table>"),
        QStringLiteral("[x](javascript:alert(1)) [y](file:///etc/passwd)"),
        QStringLiteral("<style>body{display:none}</style>"),
    };
    ChatView::State state;
    state.canChat = true;
    int id = 0;
    for (const QString &text : hostile) {
        state.messages.append(message(id++, true, text));
        state.messages.append(message(id++, false, text));
    }
    // A failure message carries the same, and one real link shows what is allowed.
    state.messages.append(message(id++, false, hostile.join(u'\n'), false, true));
    state.messages.append(message(id++, false, QStringLiteral("见[来源](https://example.com/a)和[信](mailto:a@example.com)")));
    view.apply(state);

    QCOMPARE(view.bubbles().size(), state.messages.size());
    QStringList links;
    for (qsizetype i = 0; i < state.messages.size(); ++i) {
        const QTextDocument *document = view.bubbles().at(i)->browser()->document();
        if (i + 1 < state.messages.size())
            QCOMPARE(document->toPlainText(), state.messages.at(i).text);
        QVERIFY(!holdsImage(document));
        QVERIFY(document->rootFrame()->childFrames().isEmpty()); // no table
        const QString html = document->toHtml();
        for (const char *tag : {"<img", "<table", "<script", "<td"})
            QVERIFY2(!html.contains(QLatin1String(tag)), tag);
        links << anchors(document);
    }
    QCOMPARE(links, (QStringList {QStringLiteral("https://example.com/a"), QStringLiteral("mailto:a@example.com")}));
}

void ChatViewTest::oneWindowFromTheMenu()
{
    AskingRig asking(false);
    AppModel &model = *asking.model;
    ChatWindowController::model = &model;
    asking.rig.setLines({});
    MenuContent content(model);
    QAction *entry = menuEntry(content.menu(), QStringLiteral("问问这场会议…"));
    QVERIFY(entry);
    QVERIFY(!entry->isVisible());
    asking.rig.setLines({finishedLine(0)});
    QVERIFY(entry->isVisible());

    entry->trigger();
    FloatingWindow *window = ChatWindowController::shared().window();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("泰萨利字幕 · 问问这场会议"));
    QCOMPARE(window->minimumSize(), QSize(420, 420));
    QCOMPARE(window->size(), QSize(520, 640));
    QVERIFY(ChatWindowController::shared().view()->isVisible());

    window->close();
    QVERIFY(!window->isVisible());
    ChatWindowController::shared().show();
    QCOMPARE(ChatWindowController::shared().window(), window);
    QVERIFY(window->isVisible());
}

DODEDAROV_TEST(ChatViewTest)
#include "ChatViewTest.moc"
