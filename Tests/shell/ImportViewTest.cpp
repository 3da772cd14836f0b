#include "TestMain.h"

#include "fakes/FakeFileManager1.h"
#include "platform/FileReveal.h"
#include "shell/import/ImportDropZone.h"
#include "shell/import/ImportView.h"
#include "shell/import/ImportWindowController.h"
#include "display/FloatingWindow.h"
#include "records/MediaImporter.h"
#include "accounts/KeyCheck.h"
#include "platform/Keychain.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>

#include <memory>

namespace {

using Stage = MediaImporter::Stage;
using Kind = MediaImporter::Stage::Kind;

const QString dropHere = QStringLiteral("把音频或视频文件拖到这里");
const QString noKey = QStringLiteral(
    "导入音视频生成字幕目前要用 ElevenLabs 转写：请在设置的“API 密钥”里填 ElevenLabs 的密钥。");

QList<QUrl> files(const QStringList &paths)
{
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    return urls;
}

// Receives what QDesktopServices::openUrl would hand to the desktop.
class OpenedUrls final : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl &url) { urls.append(url); }
};

}

// The import window's page on the offscreen platform: its states drawn from the importer's
// values, drops as real drag events, the file dialog, and the reveal and open buttons.
class ImportViewTest final : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_tmp; // TMPDIR of the importer
    QByteArray m_savedTmp;
    QUrl m_savedRecogniser;
    std::unique_ptr<MediaImporter> m_importer;
    std::unique_ptr<ImportView> m_view;
    OpenedUrls m_opened;

    // Every shown part lies inside its parent, and wrapped text has the height it needs.
    static void allInside(QWidget *widget, const QString &path)
    {
        for (QWidget *child : widget->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (!child->isVisible() || child->isWindow())
                continue;
            const QString name = path + u'/' + child->objectName();
            QVERIFY2(widget->rect().contains(child->geometry()),
                     qPrintable(name + u" at "_qs + QString::number(child->geometry().bottom())
                                + u" in "_qs + QString::number(widget->height())));
            if (auto *label = qobject_cast<QLabel *>(child); label && label->wordWrap())
                QVERIFY2(label->height() >= label->heightForWidth(label->width()), qPrintable(name));
            allInside(child, name);
            if (QTest::currentTestFailed())
                return;
        }
    }

    template <typename T = QLabel>
    T *part(const QString &name, const QWidget *in = nullptr) const
    {
        T *found = (in ? in : m_view.get())->findChild<T *>(name);
        if (!found)
            qFatal("no part %s", qPrintable(name));
        return found;
    }

    bool shown(const QString &name) const { return part<QWidget>(name)->isVisible(); }

    QStringList workFolders() const
    {
        return QDir(m_tmp.path()).entryList({MediaImporter::workPrefix + u'*'}, QDir::Dirs | QDir::NoDotAndDotDot);
    }

    // A drag over the zone, then a drop there; whether the drop was taken.
    bool dropOn(ImportDropZone *zone, QMimeData *data)
    {
        const QPoint centre = zone->rect().center();
        QDragEnterEvent enter(centre, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(centre, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &drop);
        return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
    }

    bool dropUrls(const QList<QUrl> &urls)
    {
        QMimeData data;
        data.setUrls(urls);
        return dropOn(m_view->dropZone(), &data);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_tmp.isValid());
        m_savedTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(m_tmp.path()));
        // Nothing listens there: a job that got as far as its upload would fail at once.
        m_savedRecogniser = KeyCheck::elevenLabsAddress;
        KeyCheck::elevenLabsAddress = QUrl(QStringLiteral("http://127.0.0.1:1"));
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        KeyCheck::elevenLabsAddress = m_savedRecogniser;
        qputenv("TMPDIR", m_savedTmp);
        Keychain::set(QString(), Keychain::elevenLabsAccount);
    }

    void init()
    {
        Keychain::set(QString(), Keychain::elevenLabsAccount);
        QVERIFY(Keychain::get(Keychain::elevenLabsAccount).value_or(QString()).isEmpty());
        m_opened.urls.clear();
        // As the application wires it: the folder opens through the desktop.
        FileReveal::openFolder = [](const QUrl &folder) { QDesktopServices::openUrl(folder); };
        m_importer = std::make_unique<MediaImporter>(MediaImporter::Meeting{});
        m_view = std::make_unique<ImportView>(*m_importer);
        m_view->resize(480, 320);
        m_view->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
    }

    void cleanup()
    {
        m_view.reset();
        m_importer.reset();
        FileReveal::openFolder = [](const QUrl &) {};
        QTRY_VERIFY(workFolders().isEmpty());
    }

    void states_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("outputs");
        QTest::addColumn<QString>("headline");
        QTest::addColumn<QString>("progress"); // empty: no progress row
        QTest::addColumn<QString>("failure");  // empty: no failure line
        QTest::addColumn<QStringList>("buttons"); // the finished block's buttons; empty: no block

        const QString busy = QStringLiteral("正在处理：会议.mp4");
        const QString reveal = QStringLiteral("在文件管理器中显示");
        QTest::newRow("idle") << int(Kind::idle) << 0 << dropHere << QString() << QString() << QStringList();
        QTest::newRow("extracting") << int(Kind::extracting) << 0 << busy << QStringLiteral("正在提取声音…")
                                    << QString() << QStringList();
        QTest::newRow("transcribing") << int(Kind::transcribing) << 0 << busy
                                      << QStringLiteral("正在上传并转写（长视频要几分钟）…") << QString()
                                      << QStringList();
        QTest::newRow("translating 3 of 7") << int(Kind::translating) << 0 << busy
                                            << QStringLiteral("正在翻译 3/7 批…") << QString() << QStringList();
        QTest::newRow("finished, no output") << int(Kind::finished) << 0 << dropHere << QString() << QString()
                                             << QStringList{reveal};
        QTest::newRow("finished, subtitles only") << int(Kind::finished) << 1 << dropHere << QString() << QString()
                                                  << QStringList{reveal, QStringLiteral("打开字幕")};
        QTest::newRow("finished, both files")
            << int(Kind::finished) << 2 << dropHere << QString() << QString()
            << QStringList{reveal, QStringLiteral("打开字幕"), QStringLiteral("打开文稿")};
        QTest::newRow("failed") << int(Kind::failed) << 0 << dropHere << QString()
                                << QStringLiteral("⚠︎ 读不了这个文件。") << QStringList();
    }

    void states()
    {
        QFETCH(int, kind);
        QFETCH(int, outputs);
        QFETCH(QString, headline);
        QFETCH(QString, progress);
        QFETCH(QString, failure);
        QFETCH(QStringList, buttons);

        Stage stage;
        stage.kind = Kind(kind);
        if (stage.kind == Kind::translating)
            stage = Stage::translating(3, 7);
        if (stage.kind == Kind::failed)
            stage = Stage::failed(QStringLiteral("读不了这个文件。"));
        const QList<QUrl> written = files({QStringLiteral("/tmp/会议.双语.srt"), QStringLiteral("/tmp/会议 文稿.txt")})
                                        .first(outputs);
        const QString summary = QStringLiteral("共 85 条字幕，时长 00:05:12。");
        m_view->apply({stage, QStringLiteral("会议.mp4"), written, summary});

        QCOMPARE(m_view->headline(), headline);
        QCOMPARE(part(u"headline"_qs)->text(), headline);
        // The file button is there exactly when a new file can be taken.
        QCOMPARE(shown(u"pick"_qs), !stage.isRunning());
        QCOMPARE(shown(u"progress"_qs), !progress.isEmpty());
        if (!progress.isEmpty()) {
            QCOMPARE(part(u"progressText"_qs)->text(), progress);
            QVERIFY(shown(u"cancel"_qs));
        }
        QCOMPARE(shown(u"failure"_qs), !failure.isEmpty());
        if (!failure.isEmpty()) {
            QCOMPARE(part(u"failure"_qs)->text(), failure);
            QCOMPARE(part(u"failure"_qs)->palette().color(QPalette::WindowText), QColor(255, 149, 0));
            QVERIFY(part(u"failure"_qs)->wordWrap());
        }
        QCOMPARE(shown(u"finished"_qs), !buttons.isEmpty());
        if (!buttons.isEmpty()) {
            QCOMPARE(part(u"finishedTitle"_qs)->text(), QStringLiteral("完成：会议.mp4"));
            QCOMPARE(part(u"summary"_qs)->text(), summary);
            QStringList visible;
            for (QPushButton *button : part<QWidget>(u"finished"_qs)->findChildren<QPushButton *>()) {
                if (button->isVisible())
                    visible.append(button->text());
            }
            QCOMPARE(visible, buttons);
        }
        QCOMPARE(part(u"explanation"_qs)->text(), ImportView::explanation);
    }

    // The page follows a real importer: a start without a recognition key fails in orange; with
    // one, the busy page refuses drops until "取消" brings back the free page.
    void followsTheImporter()
    {
        QTemporaryDir sources;
        const QString path = sources.filePath(QStringLiteral("周会 录音.mp3"));
        QFile text(path);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not sound at all");
        text.close();

        QVERIFY(dropUrls(files({path})));
        QCOMPARE(m_importer->stage(), Stage::failed(noKey));
        QVERIFY(shown(u"failure"_qs));
        QCOMPARE(part(u"failure"_qs)->text(), QStringLiteral("⚠︎ ") + noKey);
        QVERIFY(!shown(u"cancel"_qs));

        // After a failure a new drop starts at once.
        QVERIFY(Keychain::set(QStringLiteral("test-elevenlabs-key"), Keychain::elevenLabsAccount));
        QVERIFY(dropUrls(files({path})));
        QCOMPARE(m_importer->stage(), Stage::extracting());
        QCOMPARE(m_view->headline(), QStringLiteral("正在处理：周会 录音.mp3"));
        QVERIFY(!shown(u"pick"_qs));
        QVERIFY(!shown(u"failure"_qs));
        QCOMPARE(part(u"progressText"_qs)->text(), QStringLiteral("正在提取声音…"));

        // Reopening the window shows the job where it stands.
        {
            ImportView again(*m_importer);
            QCOMPARE(again.headline(), QStringLiteral("正在处理：周会 录音.mp3"));
        }

        // A drop while busy is refused and leaves the job alone.
        QVERIFY(!dropUrls(files({sources.filePath(QStringLiteral("another.mp4"))})));
        QCOMPARE(m_importer->fileName(), QStringLiteral("周会 录音.mp3"));

        part<QPushButton>(u"cancel"_qs)->click();
        QCOMPARE(m_importer->stage(), Stage::idle());
        QCOMPARE(m_view->headline(), dropHere);
        QVERIFY(shown(u"pick"_qs));
        QVERIFY(!shown(u"progress"_qs));
        QVERIFY(!shown(u"failure"_qs));
        QVERIFY(!shown(u"finished"_qs));
    }

    void dropTarget_data()
    {
        QTest::addColumn<QList<QUrl>>("urls");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QUrl>("expected"); // empty: refused

        const QUrl web(QStringLiteral("https://example.com/talk.mp4"));
        const QUrl file = QUrl::fromLocalFile(QStringLiteral("/home/user/talk.mp4"));
        const QUrl second = QUrl::fromLocalFile(QStringLiteral("/home/user/second.wav"));
        const QUrl chinese = QUrl::fromLocalFile(QStringLiteral("/home/user/文档/周会 录音 (1).m4a"));
        const QUrl folder = QUrl::fromLocalFile(QStringLiteral("/home/user/音乐/"));
        const QUrl bare = QUrl::fromLocalFile(QStringLiteral("/home/user/recording"));

        QTest::newRow("a web link, then a file") << QList<QUrl>{web, file} << false << file;
        QTest::newRow("several files") << QList<QUrl>{file, second} << false << file;
        QTest::newRow("links only") << QList<QUrl>{web, QUrl(QStringLiteral("mailto:a@example.com"))} << false
                                    << QUrl();
        QTest::newRow("empty") << QList<QUrl>{} << false << QUrl();
        QTest::newRow("busy") << QList<QUrl>{file} << true << QUrl();
        QTest::newRow("busy with a link first") << QList<QUrl>{web, file} << true << QUrl();
        QTest::newRow("a folder") << QList<QUrl>{folder} << false << folder;
        QTest::newRow("Chinese and blanks") << QList<QUrl>{chinese} << false << chinese;
        QTest::newRow("no extension") << QList<QUrl>{bare} << false << bare;
    }

    void dropTarget()
    {
        QFETCH(QList<QUrl>, urls);
        QFETCH(bool, busy);
        QFETCH(QUrl, expected);
        QCOMPARE(ImportView::dropTarget(urls, busy).value_or(QUrl()), expected);
    }

    void dragEvents()
    {
        ImportDropZone *zone = m_view->dropZone();
        const QPoint centre = zone->rect().center();

        // Text alone is no drop for the zone.
        QMimeData text;
        text.setText(QStringLiteral("/home/user/talk.mp4"));
        QDragEnterEvent textEnter(centre, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &textEnter);
        QVERIFY(!textEnter.isAccepted());
        QVERIFY(!zone->targeted());

        QMimeData urls;
        urls.setUrls({QUrl(QStringLiteral("https://example.com/a.mp4"))});
        QDragEnterEvent enter(centre, Qt::CopyAction, &urls, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(zone, &enter);
        QVERIFY(enter.isAccepted());
        QVERIFY(zone->targeted());
        QDragLeaveEvent leave;
        QApplication::sendEvent(zone, &leave);
        QVERIFY(!zone->targeted());

        // A drop of links only is refused and starts nothing.
        QVERIFY(!dropOn(zone, &urls));
        QVERIFY(!zone->targeted());
        QCOMPARE(m_importer->stage(), Stage::idle());

        // A link and a file: the file is taken (and, with no key stored, fails at once).
        QMimeData mixed;
        mixed.setUrls({QUrl(QStringLiteral("https://example.com/a.mp4")),
                       QUrl::fromLocalFile(QStringLiteral("/home/user/文档/b.mkv"))});
        QVERIFY(dropOn(zone, &mixed));
        QVERIFY(!zone->targeted());
        QCOMPARE(m_importer->stage(), Stage::failed(noKey));
    }

    void fileDialog()
    {
        QFileDialog *dialog = m_view->fileDialog();
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
        QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("生成字幕"));
        QCOMPARE(dialog->nameFilters().size(), 1);
        const QString filter = dialog->nameFilters().first();
        const QString label = QStringLiteral("音频和视频文件 (");
        QVERIFY(filter.startsWith(label));
        QVERIFY(filter.endsWith(u')'));
        const QStringList patterns = filter.mid(label.size()).chopped(1).split(u' ');
        for (const char *wanted : {"*.mp3", "*.m4a", "*.mp4", "*.mkv", "*.wav"})
            QVERIFY2(patterns.contains(QLatin1String(wanted)), wanted);
        QVERIFY(!patterns.contains(u"*.txt"_qs));
        QCOMPARE(patterns, ImportView::mediaPatterns());
        QVERIFY(!dialog->isVisible());
        delete dialog;
    }

    // The dialog opens where media files are, not in the folder the desktop started the app
    // in: the folder of the last file chosen, else the videos folder, else the documents folder.
    void fileDialogOpensWhereFilesAre()
    {
        const QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        QStringList made;
        const auto removeMade = qScopeGuard([&] {
            for (const QString &folder : made)
                QDir(folder).removeRecursively();
        });
        const auto startsIn = [&] {
            const std::unique_ptr<QFileDialog> dialog(m_view->fileDialog());
            return dialog->directory().absolutePath();
        };
        if (!QFileInfo(documents).isDir() && !QFileInfo(videos).isDir())
            QCOMPARE(startsIn(), QDir::homePath());
        if (!QFileInfo(videos).isDir()) {
            if (!QFileInfo(documents).isDir()) {
                QVERIFY(QDir().mkpath(documents));
                made << documents;
            }
            QCOMPARE(startsIn(), documents);
            QVERIFY(QDir().mkpath(videos));
            made << videos;
        }
        QCOMPARE(startsIn(), videos);

        // The user picks a file in another folder: the next dialog starts there.
        QTemporaryDir elsewhere;
        const QString chosen = elsewhere.filePath(u"季度会议.mp4"_qs);
        QFile file(chosen);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        bool answered = false;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            QCOMPARE(dialog->directory().absolutePath(), videos);
            dialog->selectFile(chosen);
            // The dialog's own accept (protected in QFileDialog), as its open button calls it.
            static_cast<QDialog *>(dialog)->accept();
            answered = true;
        });
        part<QPushButton>(u"pick"_qs)->click();
        QVERIFY(answered);
        QCOMPARE(startsIn(), elsewhere.path());
        QTRY_VERIFY(!m_importer->stage().isRunning());
    }

    void revealsBothFilesInOneCall()
    {
        FakeFileManager1 manager;
        QVERIFY(manager.start());
        QSignalSpy called(&manager, &FakeBusService::called);
        const QList<QUrl> written = files({QStringLiteral("/tmp/导入/周会 录音.双语.srt"),
                                           QStringLiteral("/tmp/导入/周会 录音 文稿.txt")});
        m_view->apply({Stage::finished(), QStringLiteral("周会 录音.mp3"), written, QStringLiteral("共 2 条字幕。")});
        part<QPushButton>(u"reveal"_qs)->click();
        QVERIFY(called.wait(10000));
        QCOMPARE(manager.shown.size(), 1);
        QCOMPARE(manager.shown.first().uris,
                 (QStringList{QStringLiteral("file:///tmp/%E5%AF%BC%E5%85%A5/%E5%91%A8%E4%BC%9A%20%E5%BD%95%E9%9F%B3"
                                             ".%E5%8F%8C%E8%AF%AD.srt"),
                              QStringLiteral("file:///tmp/%E5%AF%BC%E5%85%A5/%E5%91%A8%E4%BC%9A%20%E5%BD%95%E9%9F%B3"
                                             "%20%E6%96%87%E7%A8%BF.txt")}));
        QCOMPARE(manager.shown.first().startupId, QString());
        // A success opens nothing else: a failing call after it proves its reply was handled.
        manager.answer = FakeBusService::Answer::withError;
        m_view->apply({Stage::finished(), QStringLiteral("b.mp3"), files({QStringLiteral("/tmp/标记/b.双语.srt")}),
                       QString()});
        part<QPushButton>(u"reveal"_qs)->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.urls.size(), 1, 10000);
        QCOMPARE(m_opened.urls.first(), QUrl::fromLocalFile(QStringLiteral("/tmp/标记")));
    }

    void revealOpensTheFolderWithoutAFileManager()
    {
        const QList<QUrl> written = files({QStringLiteral("/tmp/导入/a.双语.srt"), QStringLiteral("/tmp/别处/a 文稿.txt")});
        m_view->apply({Stage::finished(), QStringLiteral("a.mp3"), written, QString()});
        part<QPushButton>(u"reveal"_qs)->click();
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.urls.size(), 1, 10000);
        QCOMPARE(m_opened.urls.first(), QUrl::fromLocalFile(QStringLiteral("/tmp/导入")));
    }

    void opensEachFile()
    {
        const QList<QUrl> written = files({QStringLiteral("/tmp/导入/a.双语.srt"), QStringLiteral("/tmp/导入/a 文稿.txt")});
        m_view->apply({Stage::finished(), QStringLiteral("a.mp3"), written, QString()});
        part<QPushButton>(u"openSubtitles"_qs)->click();
        part<QPushButton>(u"openTranscript"_qs)->click();
        QCOMPARE(m_opened.urls, written);
    }

    void importerTextIsPlain_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("bold") << QStringLiteral("<b>x</b>.mp4");
        QTest::newRow("script") << QStringLiteral("<script>alert(1)</script>");
        QTest::newRow("image") << QStringLiteral("<img src=x onerror=alert(1)>");
        QTest::newRow("file link") << QStringLiteral("<a href=\"file:///etc/passwd\">x</a>");
        QTest::newRow("entity") << QStringLiteral("&amp; &lt;");
        QTest::newRow("table") << QStringLiteral("<table><tr><td>x</td></tr></table>");
        QTest::newRow("markdown link") << QStringLiteral("[x](javascript:alert(1))");
    }

    void importerTextIsPlain()
    {
        QFETCH(QString, text);
        const auto check = [](QLabel *label, const QString &expected) {
            QCOMPARE(label->textFormat(), Qt::PlainText);
            QCOMPARE(label->text(), expected);
            // As the label lays it out: the characters as typed, no image, table or anchor.
            QTextDocument document;
            document.setPlainText(label->text());
            QCOMPARE(document.toPlainText(), expected);
        };
        m_view->apply({Stage::extracting(), text, {}, QString()});
        QCOMPARE(m_view->headline(), QStringLiteral("正在处理：") + text);
        check(part(u"headline"_qs), QStringLiteral("正在处理：") + text);

        m_view->apply({Stage::failed(text), text, {}, QString()});
        check(part(u"failure"_qs), QStringLiteral("⚠︎ ") + text);

        m_view->apply({Stage::finished(), text, files({QStringLiteral("/tmp/a.srt")}), text});
        check(part(u"finishedTitle"_qs), QStringLiteral("完成：") + text);
        check(part(u"summary"_qs), text);

        for (QLabel *label : m_view->findChildren<QLabel *>()) {
            if (!label->text().isEmpty())
                QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
        }
    }

    // The finished page at common interface font sizes, in the window's fitting size: every
    // part lies inside its parent, the parts of the column do not overlap, and wrapped text
    // has the height it needs.
    void fitsAtInterfaceFontSizes_data()
    {
        QTest::addColumn<double>("points");
        QTest::newRow("9 pt") << 9.0;
        QTest::newRow("11 pt") << 11.0;
        QTest::newRow("13 pt") << 13.0;
    }

    void fitsAtInterfaceFontSizes()
    {
        QFETCH(double, points);
        const QFont saved = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(saved); });
        QFont font = saved;
        font.setPointSizeF(points);
        QApplication::setFont(font);

        ImportView view(*m_importer);
        Stage finishedStage;
        finishedStage.kind = Kind::finished;
        const QList<QUrl> written = files({QStringLiteral("/tmp/会议.双语.srt"), QStringLiteral("/tmp/会议 文稿.txt")});
        view.apply({finishedStage, QStringLiteral("2024 年度 季度 总结 会议 录像.mp4"), written,
                    QStringLiteral("共 312 条字幕，时长 00:48:05；翻译用了 41 批，其中 2 批重试后完成。"
                                   "术语表里的 17 个词都用上了。")});
        const QSize size = view.fittingSize();
        QVERIFY(size.width() >= 480 && size.height() >= 320);
        view.resize(size);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));

        allInside(&view, QString());
        if (QTest::currentTestFailed())
            return;
        const QRect zone = view.dropZone()->geometry();
        const QRect finished = part<QWidget>(u"finished"_qs, &view)->geometry();
        const QRect about = part(u"explanation"_qs, &view)->geometry();
        QVERIFY(!zone.intersects(finished));
        QVERIFY(!finished.intersects(about));
    }

    // The window as the menu opens it, at a large interface font: of fixed size (the window
    // manager offers no resizing) and large enough for everything the page shows, before a
    // job and once one has finished.
    void windowFitsItsPage()
    {
        const QFont saved = QApplication::font();
        const auto restore = qScopeGuard([&] { QApplication::setFont(saved); });
        QFont font = saved;
        font.setPointSizeF(13);
        QApplication::setFont(font);

        ImportWindowController::shared().show();
        FloatingWindow *window = ImportWindowController::shared().window();
        const auto hide = qScopeGuard([window] { window->hide(); });
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto *view = window->findChild<ImportView *>();
        QVERIFY(view);
        QCOMPARE(window->minimumSize(), window->maximumSize());
        allInside(window, QString());
        if (QTest::currentTestFailed())
            return;

        // As the importer reports a finished job.
        Stage finishedStage;
        finishedStage.kind = Kind::finished;
        view->apply({finishedStage, QStringLiteral("2024 年度 季度 总结 会议 录像.mp4"),
                     files({QStringLiteral("/tmp/会议.双语.srt"), QStringLiteral("/tmp/会议 文稿.txt")}),
                     QStringLiteral("共 312 条字幕，时长 00:48:05；翻译用了 41 批，其中 2 批重试后完成。"
                                    "术语表里的 17 个词都用上了。")});
        QCOMPARE(window->minimumSize(), window->maximumSize());
        QTRY_VERIFY(part<QWidget>(u"finished"_qs, view)->isVisible());
        QCoreApplication::processEvents();
        allInside(window, QString());
        view->apply({Stage{}, QString(), {}, QString()});
    }

    void longHeadlineIsCutToOneLine()
    {
        const QString name = QStringLiteral("很长的文件名").repeated(20) + QStringLiteral(".mp4");
        m_view->apply({Stage::transcribing(), name, {}, QString()});
        QLabel *headline = part(u"headline"_qs);
        QCOMPARE(m_view->headline(), QStringLiteral("正在处理：") + name);
        QVERIFY(headline->text().endsWith(u'…'));
        QVERIFY(headline->text().startsWith(QStringLiteral("正在处理：")));
        QVERIFY(headline->fontMetrics().horizontalAdvance(headline->text()) <= headline->contentsRect().width());
        QVERIFY(!headline->wordWrap());
        QVERIFY(m_view->width() <= 480);
        QVERIFY(!part(u"symbol"_qs)->pixmap().isNull());
    }
};

DODEDAROV_TEST(ImportViewTest)
#include "ImportViewTest.moc"
