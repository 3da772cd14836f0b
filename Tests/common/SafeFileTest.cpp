#include "TestMain.h"

#include "common/SafeFile.h"
#include "fakes/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// What stands in a write's way.
enum class Obstacle { none, fileSizeLimit, lockedFolder };

// Makes the permission bits bind this thread while it lives, as they bind any user: root's
// override of them is dropped from the thread's effective capabilities and taken back after.
// For another user there is nothing to drop.
class PermissionBitsBind final {
public:
    PermissionBitsBind()
    {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;
        m_held = syscall(SYS_capget, &m_header, m_saved) == 0;
        if (!m_held)
            return;
        __user_cap_data_struct lowered[2] = {m_saved[0], m_saved[1]};
        lowered[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        m_held = syscall(SYS_capset, &m_header, lowered) == 0;
    }
    ~PermissionBitsBind()
    {
        if (m_held)
            syscall(SYS_capset, &m_header, m_saved);
    }
    PermissionBitsBind(const PermissionBitsBind &) = delete;
    PermissionBitsBind &operator=(const PermissionBitsBind &) = delete;

private:
    __user_cap_header_struct m_header {};
    __user_cap_data_struct m_saved[2] {};
    bool m_held = false;
};

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

} // namespace

Q_DECLARE_METATYPE(Obstacle)

// Whole-or-nothing file writes: the meeting record and the imported subtitles go through them.
class SafeFileTest final : public QObject {
    Q_OBJECT

private slots:
    void replacesTheFileWhole_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::newRow("new file") << QByteArray();
        QTest::newRow("longer file") << QByteArray("an older and much longer record\n").repeated(100);
    }
    void replacesTheFileWhole()
    {
        QFETCH(QByteArray, before);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        const QString path = folder.filePath(QStringLiteral("记录.txt"));
        if (!before.isEmpty()) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            QCOMPARE(old.write(before), before.size());
        }
        QVERIFY(SafeFile::write(path, QStringLiteral("会议记录\nminutes\n")));
        QCOMPARE(QString::fromUtf8(readAll(path)), QStringLiteral("会议记录\nminutes\n"));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("记录.txt")});
    }

    void failedWriteKeepsThePreviousFile_data()
    {
        QTest::addColumn<Obstacle>("obstacle");
        QTest::addColumn<bool>("bodyCompletes");
        QTest::newRow("body gives up part-way") << Obstacle::none << false;
        // The bytes fit the write buffer; only its final flush meets the limit, as on a full disk.
        QTest::newRow("file-size limit cuts the flush short") << Obstacle::fileSizeLimit << true;
        // The file itself may be written, its folder not: no temporary file can go beside it.
        QTest::newRow("folder may not be written") << Obstacle::lockedFolder << true;
        QTest::newRow("folder may not be written, body gives up") << Obstacle::lockedFolder << false;
    }
    void failedWriteKeepsThePreviousFile()
    {
        QFETCH(Obstacle, obstacle);
        QFETCH(bool, bodyCompletes);
        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString folder = root.filePath(QStringLiteral("records"));
        QVERIFY(QDir().mkpath(folder));
        const QString path = QDir(folder).filePath(QStringLiteral("record.txt"));
        const QByteArray before = "the last good copy\n";
        {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly));
            QCOMPARE(old.write(before), before.size());
        }
        const auto body = [bodyCompletes](QIODevice &out) {
            const QByteArray half(4096, 'n');
            return out.write(half) == half.size() && bodyCompletes;
        };

        bool written = true;
        if (obstacle == Obstacle::fileSizeLimit) {
            const FileSizeLimit limit(1024);
            QVERIFY(limit.holds());
            written = SafeFile::write(path, body);
        } else if (obstacle == Obstacle::lockedFolder) {
            const QFile::Permissions open = QFile::permissions(folder);
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
            {
                const PermissionBitsBind bind;
                written = SafeFile::write(path, body);
            }
            QVERIFY(QFile::setPermissions(folder, open));
        } else {
            written = SafeFile::write(path, body);
        }

        QVERIFY(!written);
        QCOMPARE(readAll(path), before);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 QStringList{QStringLiteral("record.txt")});
    }
};

DODEDAROV_TEST(SafeFileTest)
#include "SafeFileTest.moc"
