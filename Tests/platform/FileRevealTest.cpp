#include "TestMain.h"

#include "fakes/FakeFileManager1.h"
#include "platform/FileReveal.h"

#include <QSignalSpy>

class FileRevealTest final : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_opened.clear();
        FileReveal::openFolder = [this](const QUrl &folder) { m_opened.append(folder); };
    }

    void cleanup() { FileReveal::openFolder = [](const QUrl &) {}; }

    void showsTheFileInTheFileManager()
    {
        FakeFileManager1 manager;
        QVERIFY(manager.start());
        QSignalSpy called(&manager, &FakeBusService::called);
        const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/会议 记录/2026-01-05 10.00.00 文稿.txt"));
        FileReveal::revealFile(file);
        QVERIFY(called.wait(10000));
        QCOMPARE(manager.shown.size(), 1);
        QCOMPARE(manager.shown.first().uris, QStringList{QString::fromUtf8(file.toEncoded())});
        QVERIFY(manager.shown.first().uris.first().startsWith(QLatin1String("file:///tmp/%E4%BC%9A")));
        QCOMPARE(manager.shown.first().startupId, QString());
        // A success opens nothing else; a marker call proves the reply has been handled.
        manager.answer = FakeBusService::Answer::withError;
        FileReveal::revealFile(QUrl::fromLocalFile(QStringLiteral("/tmp/marker/x.txt")));
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, 10000);
        QCOMPARE(m_opened.first(), QUrl::fromLocalFile(QStringLiteral("/tmp/marker")));
    }

    void opensTheFolderWithoutAFileManager()
    {
        FileReveal::revealFile(QUrl::fromLocalFile(QStringLiteral("/home/user/文档/泰萨利字幕/a.txt")));
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, 10000);
        QCOMPARE(m_opened.first(), QUrl::fromLocalFile(QStringLiteral("/home/user/文档/泰萨利字幕")));
    }

private:
    QList<QUrl> m_opened;
};

DODEDAROV_TEST(FileRevealTest)
#include "FileRevealTest.moc"
