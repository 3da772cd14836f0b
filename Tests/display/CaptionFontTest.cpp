#include "TestMain.h"

#include "captions/FontFamilies.h"
#include "display/HistoryScrollState.h"
#include "display/HistoryTextView.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QRawFont>
#include <QTextBlock>
#include <QTextDocument>
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

}

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
    view.update({paragraph}, look);
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

DODEDAROV_TEST(CaptionFontTest)

#include "CaptionFontTest.moc"
