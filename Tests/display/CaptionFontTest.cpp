#include "TestMain.h"

#include "captions/FontFamilies.h"
#include "display/FloatingWindow.h"
#include "display/HistoryScrollState.h"
#include "display/HistoryTextView.h"
#include "display/InterfaceFonts.h"
#include "fakes/ModelRig.h"
#include "shell/SettingsWindowController.h"
#include "shell/StatsView.h"
#include "shell/StatsWindowController.h"
#include "shell/chat/ChatBubble.h"
#include "platform/Keychain.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QGraphicsView>
#include <QLabel>
#include <QLineEdit>
#include <QRawFont>
#include <QScopeGuard>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>

namespace {

bool isHan(QChar c)
{
    return c.script() == QChar::Script_Han;
}

// The families that drew the Han characters of the document, as the glyph runs name them.
QStringList hanFamilies(QTextDocument *doc)
{
    QStringList families;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        // Laid out on demand: the layout of a block exists once its bounding rectangle is asked.
        doc->documentLayout()->blockBoundingRect(block);
        const QString text = block.text();
        for (int i = 0; i < text.size(); ++i) {
            if (!isHan(text.at(i)))
                continue;
            for (const QGlyphRun &run : block.layout()->glyphRuns(i, 1)) {
                const QString family = run.rawFont().familyName();
                if (!families.contains(family))
                    families.append(family);
            }
        }
    }
    return families;
}

// The families that draw the Han characters of a text set in a font, as a label draws it.
QStringList hanFamilies(QString text, const QFont &font)
{
    text.replace(u'\n', QChar::LineSeparator);
    QTextLayout layout(text, font);
    layout.beginLayout();
    while (layout.createLine().isValid()) {
    }
    layout.endLayout();
    QStringList families;
    for (int i = 0; i < text.size(); ++i) {
        if (!isHan(text.at(i)))
            continue;
        for (const QGlyphRun &run : layout.glyphRuns(i, 1)) {
            const QString family = run.rawFont().familyName();
            if (!families.contains(family))
                families.append(family);
        }
    }
    return families;
}

// One text a window draws: where, what, and the families its Han characters come from.
struct Drawn {
    QString where;
    QString text;
    QStringList hanFamilies;
};

QString nameOf(const QObject *object)
{
    return QString::fromLatin1(object->metaObject()->className()) + u'#' + object->objectName();
}

// Every text on screen in a window: its labels, buttons, fields, text views and the texts of
// its charts' scenes, each with the font it is drawn in.
QList<Drawn> drawnTexts(QWidget *window)
{
    QList<Drawn> drawn;
    auto add = [&drawn](const QString &where, const QString &text, const QFont &font) {
        if (!text.isEmpty())
            drawn.append({where, text, hanFamilies(text, font)});
    };
    for (QWidget *widget : window->findChildren<QWidget *>()) {
        if (!widget->isVisibleTo(window))
            continue;
        if (auto *label = qobject_cast<QLabel *>(widget))
            add(nameOf(label), label->text(), label->font());
        else if (auto *button = qobject_cast<QAbstractButton *>(widget))
            add(nameOf(button), button->text(), button->font());
        else if (auto *field = qobject_cast<QLineEdit *>(widget))
            add(nameOf(field), field->text().isEmpty() ? field->placeholderText() : field->text(), field->font());
        else if (auto *box = qobject_cast<QComboBox *>(widget))
            add(nameOf(box), box->currentText(), box->font());
        else if (auto *edit = qobject_cast<QTextEdit *>(widget))
            drawn.append({nameOf(edit), edit->toPlainText(), hanFamilies(edit->document())});
        else if (auto *view = qobject_cast<QGraphicsView *>(widget); view && view->scene()) {
            for (QGraphicsItem *item : view->scene()->items()) {
                if (!item->isVisible())
                    continue;
                if (auto *simple = dynamic_cast<QGraphicsSimpleTextItem *>(item))
                    add(nameOf(view) + QStringLiteral(" simple text"), simple->text(), simple->font());
                else if (auto *rich = dynamic_cast<QGraphicsTextItem *>(item))
                    drawn.append({nameOf(view) + QStringLiteral(" text"), rich->toPlainText(), hanFamilies(rich->document())});
            }
        }
    }
    return drawn;
}

enum class Window { statistics, settingsKeys, chatAnswer };

}
Q_DECLARE_METATYPE(Window)

// Which installed face draws the captions' Han characters. Outside a zh locale (the test
// environment runs under C.UTF-8) fontconfig's own fallback for Han is a brush-script Kai face.
class CaptionFontTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void hanFace_data();
    void hanFace();
    void plainFamilies_data();
    void plainFamilies();
    void windowTexts_data();
    void windowTexts();
};

void CaptionFontTest::initTestCase()
{
    if (!QFontDatabase::hasFamily(FontFamilies::hanFace()))
        QSKIP("Noto Sans CJK SC is not installed");
}

void CaptionFontTest::hanFace_data()
{
    QTest::addColumn<QString>("chineseFont");
    QTest::addColumn<QString>("englishFont");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("face");
    const QString sans = FontFamilies::hanFace();
    QTest::newRow("system font (PingFang)") << QString() << QStringLiteral("Avenir Next")
                                             << QStringLiteral("我们今天开始讨论预算。") << sans;
    QTest::newRow("heiti") << QStringLiteral("Heiti SC") << QString() << QStringLiteral("我们今天开始讨论预算。")
                           << sans;
    QTest::newRow("kaiti chosen") << QStringLiteral("Kaiti SC") << QString()
                                  << QStringLiteral("我们今天开始讨论预算。") << QStringLiteral("AR PL UKai CN");
    QTest::newRow("han name in an english caption")
        << QString() << QStringLiteral("Avenir Next") << QStringLiteral("Thank you, 王 and everyone, for coming today.")
        << sans;
    QTest::newRow("han name in the english system font")
        << QStringLiteral("Kaiti SC") << QString() << QStringLiteral("Thank you, 王 and everyone, for coming today.")
        << sans;
}

void CaptionFontTest::hanFace()
{
    QFETCH(QString, chineseFont);
    QFETCH(QString, englishFont);
    QFETCH(QString, text);
    QFETCH(QString, face);
    if (!QFontDatabase::hasFamily(face))
        QSKIP("the expected face is not installed");
    HistoryScrollState state;
    HistoryTextView view(&state);
    view.resize(400, 300);
    view.show();
    CaptionAppearance look;
    look.chineseFont = chineseFont;
    look.englishFont = englishFont;
    HistoryText::Paragraph paragraph;
    paragraph.primary = text;
    paragraph.latest = true;
    view.setParagraphs({paragraph}, look);
    QCOMPARE(hanFamilies(view.document()), QStringList {face});
}

void CaptionFontTest::plainFamilies_data()
{
    QTest::addColumn<QStringList>("database");
    QTest::addColumn<QStringList>("menu");
    QTest::newRow("plain names stay") << QStringList {u"DejaVu Sans"_qs, u"Noto Sans CJK SC"_qs}
                                      << QStringList {u"DejaVu Sans"_qs, u"Noto Sans CJK SC"_qs};
    QTest::newRow("foundry dropped, listed once")
        << QStringList {u"Nimbus Roman [UKWN]"_qs, u"DejaVu Serif"_qs, u"Nimbus Roman [URW]"_qs}
        << QStringList {u"Nimbus Roman"_qs, u"DejaVu Serif"_qs};
    QTest::newRow("plain and qualified name of one family")
        << QStringList {u"Cantarell"_qs, u"Cantarell [ABCD]"_qs} << QStringList {u"Cantarell"_qs};
    QTest::newRow("brackets inside a name stay") << QStringList {u"Odd [1] Sans"_qs} << QStringList {u"Odd [1] Sans"_qs};
}

void CaptionFontTest::plainFamilies()
{
    QFETCH(QStringList, database);
    QFETCH(QStringList, menu);
    QCOMPARE(FontFamilies::plainFamilies(database), menu);
}

void CaptionFontTest::windowTexts_data()
{
    QTest::addColumn<Window>("window");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("statistics: figures, units, chart labels and titles")
        << Window::statistics
        << QStringList {u"分钟"_qs, u" 秒"_qs, u" 万"_qs, u"断句和排队"_qs, u"词元"_qs, u"平均 "_qs};
    QTest::newRow("settings: key rows, quota lines and statuses")
        << Window::settingsKeys << QStringList {u"密钥 1："_qs, u"密钥 2："_qs, u"密钥："_qs, u"正在查询积分…"_qs};
    QTest::newRow("chat: an answer with a code span") << Window::chatAnswer << QStringList {u"打开设置"_qs};
}

// Every text the windows draw, in the interface font the launch installs: wherever Han
// characters occur (a unit after a fixed-width figure, a key row, a chart's axis), they come
// from the sans CJK face, never from fontconfig's own choice for the locale.
void CaptionFontTest::windowTexts()
{
    QFETCH(Window, window);
    QFETCH(QStringList, texts);
    const QFont saved = QApplication::font();
    QApplication::setFont(InterfaceFonts::withHanFace(saved));
    const auto restore = qScopeGuard([&saved] {
        StatsWindowController::shared().reset();
        StatsWindowController::model = nullptr;
        SettingsWindowController::shared().reset();
        SettingsWindowController::model = nullptr;
        QApplication::setFont(saved);
    });

    ModelRig rig;
    rig.platform.checkKey = [](KeyProvider, const QString &, std::function<void(const KeyStatus &)>) {};
    rig.platform.fetchBalance = [](KeyProvider, const QString &, std::function<void(const std::optional<BalanceInfo> &)>) {};
    std::unique_ptr<ChatBubble> bubble;
    QWidget *shown = nullptr;
    switch (window) {
    case Window::statistics: {
        AppModel &model = rig.make();
        model.setStatsForTest(ModelRig::sampleStats(8));
        StatsWindowController::model = &model;
        StatsWindowController::shared().show();
        shown = StatsWindowController::shared().window();
        break;
    }
    case Window::settingsKeys: {
        ModelRig::storeKey(Keychain::elevenLabsListAccount, u"[\"el-first-0123456789\",\"el-second-012345678\"]"_qs);
        ModelRig::storeKey(Keychain::elevenLabsAccount, u"el-first-0123456789"_qs);
        ModelRig::storeKey(Keychain::deepSeekAccount, u"sk-deepseek-0123456789"_qs);
        SettingsWindowController::model = &rig.make();
        SettingsWindowController::shared().show();
        shown = SettingsWindowController::shared().window();
        break;
    }
    case Window::chatAnswer:
        bubble = std::make_unique<ChatBubble>(ChatMessage {1, false, u"在菜单里点 `打开设置…` 就行。"_qs});
        bubble->resize(360, 120);
        bubble->show();
        shown = bubble.get();
        break;
    }
    QVERIFY(QTest::qWaitForWindowExposed(shown));
    QCoreApplication::processEvents();

    const QList<Drawn> drawn = drawnTexts(shown);
    QStringList all;
    QStringList wrong;
    for (const Drawn &each : drawn) {
        all.append(each.text);
        if (!each.hanFamilies.isEmpty() && each.hanFamilies != QStringList {FontFamilies::hanFace()})
            wrong.append(u"%1 \"%2\": %3"_qs.arg(each.where, each.text, each.hanFamilies.join(u", ")));
    }
    for (const QString &text : texts) {
        QVERIFY2(std::any_of(all.begin(), all.end(), [&text](const QString &one) { return one.contains(text); }),
                 qPrintable(u"\"%1\" is not drawn; drawn: %2"_qs.arg(text, all.join(u" | "))));
    }
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(u"\n")));
}

DODEDAROV_TEST(CaptionFontTest)

#include "CaptionFontTest.moc"
