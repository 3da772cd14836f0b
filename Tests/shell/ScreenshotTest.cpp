#include "TestMain.h"

#include "display/CaptionPanel.h"
#include "display/CaptionPanelController.h"
#include "display/CaptionView.h"
#include "display/InterfaceFonts.h"
#include "display/NotesBar.h"
#include "fakes/ModelRig.h"
#include "shell/chat/ChatView.h"
#include "shell/import/ImportView.h"
#include "records/MediaImporter.h"
#include "shell/SettingsView.h"
#include "shell/StatsView.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

constexpr int waitMs = 10000;

// Where a person finds the pictures: build/<tree>/screenshots.
QString shotFolder()
{
    const QString folder = QStringLiteral(QT_TESTCASE_BUILDDIR "/../screenshots");
    QDir().mkpath(folder);
    return QDir(folder).absolutePath();
}

void save(QWidget *widget, const QString &name)
{
    const QString path = shotFolder() + u'/' + name + QStringLiteral(".png");
    QVERIFY2(widget->grab().save(path), qPrintable(path));
}

// What a user would see cut: a child reaching out of its parent, a one-line label or a
// button narrower than its text. Scrolled content is left out: it is meant to be larger
// than its viewport. Children of a label (none) and of charts are not widgets.
void checkLaidOut(QWidget *widget, const QString &path, QStringList &faults)
{
    const bool scrolled = qobject_cast<QAbstractScrollArea *>(widget->parentWidget())
                          && static_cast<QAbstractScrollArea *>(widget->parentWidget())->viewport() == widget;
    for (QWidget *child : widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (!child->isVisible() || child->isWindow())
            continue;
        const QString name = path + u'/' + (child->objectName().isEmpty()
                                                ? QString::fromLatin1(child->metaObject()->className())
                                                : child->objectName());
        if (!scrolled && !widget->rect().contains(child->geometry()))
            faults << name + QStringLiteral(" outside its parent");
        if (auto *label = qobject_cast<QLabel *>(child); label && !label->wordWrap() && !label->text().isEmpty()
            && label->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored
            && label->width() < label->minimumSizeHint().width())
            faults << name + QStringLiteral(" cut: ") + label->text();
        if (auto *button = qobject_cast<QPushButton *>(child);
            button && !button->text().isEmpty() && button->width() < button->minimumSizeHint().width())
            faults << name + QStringLiteral(" cut: ") + button->text();
        checkLaidOut(child, name, faults);
    }
}

void checkWindow(QWidget *window, const QString &name)
{
    QCoreApplication::processEvents();
    save(window, name);
    QStringList faults;
    checkLaidOut(window, name, faults);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
}

CaptionLine line(int id, const QString &english, const QString &chinese)
{
    CaptionLine l;
    l.id = id;
    l.english = english;
    l.chinese = chinese;
    l.finished = true;
    return l;
}

}

// The app's windows as a user sees them at an 11-pt interface font, offscreen, with the real
// widgets and fonts. Each is saved as a PNG under build/ for a person to look at, and checked
// for cut texts and children outside their parents.
class ScreenshotTest final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void settings();
    void statistics();
    void captionPanelWithPopups();
    void chat();
    void import();

private:
    QFont m_savedFont;
};

void ScreenshotTest::initTestCase()
{
    m_savedFont = QApplication::font();
    // The interface font as the application installs it, at 11 pt.
    QFont font = InterfaceFonts::withHanFace(m_savedFont);
    font.setPointSizeF(11);
    QApplication::setFont(font);
}

void ScreenshotTest::cleanupTestCase()
{
    QApplication::setFont(m_savedFont);
}

void ScreenshotTest::settings()
{
    ModelRig rig;
    AppModel &model = rig.make();
    SettingsView view(model);
    view.resize(SettingsView::pageWidth, SettingsView::pageHeight);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    checkWindow(&view, QStringLiteral("settings"));
}

void ScreenshotTest::statistics()
{
    ModelRig rig;
    AppModel &model = rig.make();
    SessionStats stats;
    for (int i = 0; i < 24; ++i)
        stats.addLatency(1.6 + (i % 7) * 0.15, 0.7 + (i % 3) * 0.1, 0.3 + (i % 4) * 0.05);
    stats.requests = 24;
    stats.promptTokens = 182000;
    stats.cachedTokens = 121000;
    stats.completionTokens = 23500;
    StatsView view(model);
    // The bars drawn at once, not growing in: the picture shows them at their length.
    for (QChartView *chart : view.findChildren<QChartView *>())
        chart->chart()->setAnimationOptions(QChart::NoAnimation);
    model.setStatsForTest(stats);
    view.resize(520, 600);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.refresh();
    checkWindow(&view, QStringLiteral("statistics"));
    view.widget()->resize(view.widget()->width(), view.widget()->sizeHint().height());
    save(view.widget(), QStringLiteral("statistics-whole"));
}

void ScreenshotTest::captionPanelWithPopups()
{
    ModelRig rig;
    AppModel &model = rig.make();
    QList<CaptionLine> lines;
    const QStringList english {
        u"Good morning, and thank you all for coming to the quarterly review."_qs,
        u"Wind output doubled over the decade while storage costs fell by sixty percent."_qs,
        u"The grid now needs scheduling across borders."_qs,
        u"Anna will walk us through the numbers for the northern region."_qs,
        u"Questions are welcome at the end of each section."_qs,
    };
    const QStringList chinese {u"早上好，感谢大家来参加季度回顾。"_qs, u"十年间风电发电量翻了一番，储能成本下降了六成。"_qs,
                               u"电网现在需要跨国调度。"_qs, u"安娜会给我们讲北部地区的数据。"_qs,
                               u"每一节结束时欢迎提问。"_qs};
    for (int i = 0; i < english.size(); ++i)
        lines.append(line(i + 1, english.at(i), chinese.at(i)));
    rig.setLines(lines);
    QList<SessionNote> notes;
    for (int i = 1; i <= 3; ++i) {
        SessionNote note;
        note.id = i;
        note.text = i == 1 ? u"Anna Lindqvist = 安娜·林奎斯特"_qs
                           : i == 2 ? u"retrieval-augmented generation 译作检索增强生成，不要写成检索加强生成。"_qs
                                    : u"https://example.org/talks/nordic-grid"_qs;
        if (i == 3)
            note.status = u"读到了 2 个人名和 5 个术语"_qs;
        notes.append(note);
    }
    model.setNotes(notes);
    model.setRecap(u"主题：北欧能源转型与电网储能的成本\n要点：\n· 风电占比十年内翻了一番，储能成本下降了六成。\n"
                   "· 电网需要跨国调度。\n讲者：安娜；本特"_qs);

    CaptionPanelController controller(&model);
    CaptionPanel *panel = controller.panel();
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), waitMs);
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    model.setExpanded(false);
    QTRY_VERIFY_WITH_TIMEOUT(panel->height() < 200, waitMs);
    checkWindow(panel, QStringLiteral("panel-collapsed"));
    model.setExpanded(true);
    QTRY_VERIFY_WITH_TIMEOUT(panel->height() >= 200, waitMs);
    checkWindow(panel, QStringLiteral("panel-expanded"));

    auto *view = panel->findChild<CaptionView *>();
    QVERIFY(view);
    view->notesBar()->notesButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(view->notesPopup()->isVisible(), waitMs);
    checkWindow(view->notesPopup(), QStringLiteral("notes-popup"));
    view->notesPopup()->hide();

    model.setHovering(true);
    QTRY_VERIFY_WITH_TIMEOUT(!view->controlButton(u"list.bullet.rectangle"_qs)->isHidden(), waitMs);
    view->controlButton(u"list.bullet.rectangle"_qs)->click();
    QTRY_VERIFY_WITH_TIMEOUT(view->recapPopup()->isVisible(), waitMs);
    checkWindow(view->recapPopup(), QStringLiteral("recap-popup"));
    view->recapPopup()->hide();
    model.setHovering(false);
}

void ScreenshotTest::chat()
{
    ModelRig rig;
    AppModel &model = rig.make();
    ChatView view(model);
    view.resize(520, 640);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    checkWindow(&view, QStringLiteral("chat"));
}

void ScreenshotTest::import()
{
    MediaImporter importer(MediaImporter::Meeting {});
    ImportView view(importer);
    view.resize(view.fittingSize());
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    checkWindow(&view, QStringLiteral("import-idle"));
    MediaImporter::Stage finished;
    finished.kind = MediaImporter::Stage::Kind::finished;
    view.apply({finished, u"季度回顾 录像.mp4"_qs,
                {QUrl::fromLocalFile(u"/tmp/季度回顾 录像.双语.srt"_qs), QUrl::fromLocalFile(u"/tmp/季度回顾 录像.txt"_qs)},
                u"共 312 条字幕，时长 00:48:05；翻译用了 41 批，其中 2 批重试后完成。"_qs});
    view.resize(view.fittingSize());
    checkWindow(&view, QStringLiteral("import-finished"));
}

DODEDAROV_TEST(ScreenshotTest)
#include "ScreenshotTest.moc"
