#include "platform/FirefoxSession.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <lz4.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <unistd.h>

namespace {

const QByteArray mozLz4Magic("mozLz40\0", 8);
constexpr qsizetype headerSize = 12; // magic, then the decoded size as 4 bytes little-endian

// profiles.ini is a few hundred bytes; anything this large is not one.
constexpr qint64 maxIniSize = 1024 * 1024;

bool processIsAlive(qint64 pid)
{
    if (pid <= 0 || pid > INT_MAX)
        return false;
    // EPERM: the process exists but belongs to someone else; it still holds the profile.
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QByteArray readLink(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    char buffer[512];
    const ssize_t length = ::readlink(name.constData(), buffer, sizeof buffer);
    if (length <= 0 || size_t(length) >= sizeof buffer)
        return {};
    return QByteArray(buffer, qsizetype(length));
}

// A 1-based position read from the session JSON; 0 when it is missing or not a whole number.
qsizetype position(const QJsonValue &value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (!(number >= 1 && number <= double(INT_MAX)) || number != double(qint64(number)))
        return 0;
    return qsizetype(number);
}

} // namespace

qint64 FirefoxSession::lockPid(const QByteArray &target)
{
    const qsizetype colon = target.lastIndexOf(':');
    if (colon < 0)
        return 0;
    QByteArray digits = target.mid(colon + 1);
    if (digits.startsWith('+'))
        digits.remove(0, 1);
    if (digits.isEmpty() || digits.size() > 10)
        return 0;
    for (const char c : digits) {
        if (c < '0' || c > '9')
            return 0;
    }
    const qint64 pid = digits.toLongLong();
    return pid > 0 && pid <= INT_MAX ? pid : 0;
}

QString FirefoxSession::folder()
{
    if (!firefoxFolder.isEmpty())
        return firefoxFolder;
    return QDir::homePath() + QStringLiteral("/.mozilla/firefox");
}

QList<FirefoxSession::Profile> FirefoxSession::profiles(const QString &root)
{
    QFile ini(root + QStringLiteral("/profiles.ini"));
    if (!ini.open(QIODevice::ReadOnly) || ini.size() > maxIniSize)
        return {};
    const QByteArray text = ini.read(maxIniSize);

    // A small reader of our own: QSettings would treat backslashes and quotes in a Path as
    // escapes, and Firefox writes the file plainly.
    QList<Profile> found;
    bool inProfile = false;
    QString path;
    bool relative = false;
    const auto finishSection = [&] {
        if (inProfile && !path.isEmpty()) {
            Profile profile;
            profile.folder = relative ? root + u'/' + path : path;
            profile.pid = lockPid(readLink(profile.folder + QStringLiteral("/lock")));
            found.append(profile);
        }
        inProfile = false;
        path.clear();
        relative = false;
    };
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            finishSection();
            inProfile = line.startsWith("[Profile") && line.endsWith(']');
            continue;
        }
        if (!inProfile)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Path")
            path = QString::fromUtf8(value);
        else if (key == "IsRelative")
            relative = value == "1";
    }
    finishSection();
    return found;
}

QList<FirefoxSession::Running> FirefoxSession::read(const QString &firefoxFolder)
{
    QList<Running> running;
    for (const Profile &profile : profiles(firefoxFolder)) {
        if (!processIsAlive(profile.pid))
            continue;
        const std::optional<Session> session =
            readFile(profile.folder + QStringLiteral("/sessionstore-backups/recovery.jsonlz4"));
        if (session)
            running.append({profile.pid, *session});
    }
    return running;
}

std::optional<QByteArray> FirefoxSession::decode(const QByteArray &file)
{
    if (file.size() <= headerSize || file.size() > maxFileSize || !file.startsWith(mozLz4Magic))
        return std::nullopt;
    const auto *header = reinterpret_cast<const unsigned char *>(file.constData());
    const quint32 declared = quint32(header[8]) | quint32(header[9]) << 8 | quint32(header[10]) << 16
                             | quint32(header[11]) << 24;
    const qint64 compressed = file.size() - headerSize;
    // One LZ4 block expands at most about 255-fold, so a larger declared size is a lie; it is
    // refused before anything of that size is allocated.
    if (declared == 0 || declared > maxDecodedSize || qint64(declared) > (compressed + 1) * 256)
        return std::nullopt;
    QByteArray decoded(qsizetype(declared), Qt::Uninitialized);
    const int produced = LZ4_decompress_safe(file.constData() + headerSize, decoded.data(),
                                             int(compressed), int(declared));
    if (produced < 0 || quint32(produced) != declared)
        return std::nullopt;
    return decoded;
}

std::optional<FirefoxSession::Session> FirefoxSession::parse(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject root = document.object();
    const QJsonValue windowsValue = root.value(QLatin1String("windows"));
    if (!windowsValue.isArray())
        return std::nullopt;
    const QJsonArray windows = windowsValue.toArray();

    const qsizetype selectedWindow = position(root.value(QLatin1String("selectedWindow")));
    Session session;
    for (qsizetype w = 0; w < windows.size(); ++w) {
        const QJsonObject window = windows.at(w).toObject();
        const QJsonArray tabs = window.value(QLatin1String("tabs")).toArray();
        const qsizetype selectedTab = w + 1 == selectedWindow
                                          ? position(window.value(QLatin1String("selected")))
                                          : 0;
        for (qsizetype t = 0; t < tabs.size(); ++t) {
            const QJsonObject tab = tabs.at(t).toObject();
            // Tabs an extension has hidden are not on the tab strip, so no one listens to them.
            if (tab.value(QLatin1String("hidden")).toBool())
                continue;
            const QJsonArray entries = tab.value(QLatin1String("entries")).toArray();
            if (entries.isEmpty())
                continue;
            // Firefox's own reading: without a usable index the tab shows its last history entry,
            // and an index past the end shows the last one too.
            qsizetype index = position(tab.value(QLatin1String("index")));
            if (index < 1 || index > entries.size())
                index = entries.size();
            const QJsonObject entry = entries.at(index - 1).toObject();
            BrowserPage page{entry.value(QLatin1String("url")).toString(),
                             entry.value(QLatin1String("title")).toString()};
            if (page.url.isEmpty())
                continue;
            if (t + 1 == selectedTab)
                session.front = page;
            session.tabs.append(std::move(page));
        }
    }
    return session;
}

std::optional<FirefoxSession::Session> FirefoxSession::readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxFileSize)
        return std::nullopt;
    // Read one byte past the cap, so a file that grew since it was measured is still refused.
    const QByteArray bytes = file.read(maxFileSize + 1);
    const std::optional<QByteArray> json = decode(bytes);
    if (!json)
        return std::nullopt;
    return parse(*json);
}
