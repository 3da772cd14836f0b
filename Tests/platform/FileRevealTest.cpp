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

    void cleanup()
    {
        FileReveal::openFolder = [](const QUrl &) {};
        FileReveal::timeout = m_timeout;
    }

    void showsTheFileInTheFileManager()
    {
        FakeFileManager1 manager;
        QVERIFY(manager.start());
        QSignalSpy called(&manager, &FakeBusService::called);
        const QUrl file = QUrl::fromLocalFile(QStringLiteral("/tmp/会议 记录/2026-01-05 10.00.00 文稿.txt"));
        FileReveal::revealFiles({file});
        QVERIFY(called.wait(10000));
        QCOMPARE(manager.shown.size(), 1);
        QCOMPARE(manager.shown.first().uris, QStringList{QString::fromUtf8(file.toEncoded())});
        QVERIFY(manager.shown.first().uris.first().startsWith(QLatin1String("file:///tmp/%E4%BC%9A")));
        QCOMPARE(manager.shown.first().startupId, QString());
        // A success opens nothing else; a marker call proves the reply has been handled.
        manager.answer = FakeBusService::Answer::withError;
        FileReveal::revealFiles({QUrl::fromLocalFile(QStringLiteral("/tmp/marker/x.txt"))});
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, 10000);
        QCOMPARE(m_opened.first(), QUrl::fromLocalFile(QStringLiteral("/tmp/marker")));
    }

    void opensTheFolderWithoutAFileManager()
    {
        FileReveal::revealFiles({QUrl::fromLocalFile(QStringLiteral("/home/user/文档/泰萨利字幕/a.txt"))});
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, 10000);
        QCOMPARE(m_opened.first(), QUrl::fromLocalFile(QStringLiteral("/home/user/文档/泰萨利字幕")));
    }

    void opensTheFirstFoldersWhenTheFileManagerHangs()
    {
        FakeFileManager1 manager;
        QVERIFY(manager.start());
        manager.answer = FakeBusService::Answer::never;
        FileReveal::timeout = 300;
        FileReveal::revealFiles({QUrl::fromLocalFile(QStringLiteral("/tmp/一/a.srt")),
                                 QUrl::fromLocalFile(QStringLiteral("/tmp/二/b.txt"))});
        QTRY_COMPARE_WITH_TIMEOUT(m_opened.size(), 1, 10000);
        QCOMPARE(m_opened.first(), QUrl::fromLocalFile(QStringLiteral("/tmp/一")));
    }

    void nothingToReveal()
    {
        FakeFileManager1 manager;
        QVERIFY(manager.start());
        QSignalSpy called(&manager, &FakeBusService::called);
        FileReveal::revealFiles({});
        // A later call proves the empty one sent nothing.
        FileReveal::revealFiles({QUrl::fromLocalFile(QStringLiteral("/tmp/a.txt"))});
        QVERIFY(called.wait(10000));
        QCOMPARE(manager.shown.size(), 1);
        QVERIFY(m_opened.isEmpty());
    }

private:
    const int m_timeout = FileReveal::timeout;
    QList<QUrl> m_opened;
};

DODEDAROV_TEST(FileRevealTest)
#include "FileRevealTest.moc"
