#include "FirefoxFixture.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <lz4.h>

#include <climits>

FirefoxFixture::FirefoxFixture() = default;

QString FirefoxFixture::addProfile(const QString &path, qint64 lockPid, bool relative)
{
    const QString profileFolder = relative ? m_dir.path() + u'/' + path : path;
    QDir().mkpath(profileFolder + QStringLiteral("/sessionstore-backups"));
    if (lockPid != 0) {
        const QString lock = profileFolder + QStringLiteral("/lock");
        QFile::remove(lock);
        QFile::link(QStringLiteral("127.0.1.1:+%1").arg(lockPid), lock);
    }
    m_profiles.append({path, relative});

    QByteArray ini = "[General]\nStartWithLastProfile=1\nVersion=2\n\n";
    for (int i = 0; i < m_profiles.size(); ++i) {
        ini += "[Profile" + QByteArray::number(i) + "]\nName=p" + QByteArray::number(i)
               + "\nIsRelative=" + (m_profiles.at(i).relative ? "1" : "0") + "\nPath="
               + m_profiles.at(i).path.toUtf8() + "\n\n";
    }
    ini += "[Install4F96D1932A9F858E]\nDefault=" + m_profiles.first().path.toUtf8() + "\nLocked=1\n";
    writeProfilesIni(ini);
    return profileFolder;
}

bool FirefoxFixture::writeSession(const QString &profileFolder, const QByteArray &file)
{
    QFile out(profileFolder + QStringLiteral("/sessionstore-backups/recovery.jsonlz4"));
    return out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(file) == file.size();
}

void FirefoxFixture::writeProfilesIni(const QByteArray &text)
{
    QFile out(m_dir.path() + QStringLiteral("/profiles.ini"));
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(text);
}

QByteArray FirefoxFixture::sessionJson(const QList<Window> &windows, int selectedWindow,
                                       const QList<int> &selectedTabs)
{
    QJsonArray windowArray;
    for (int w = 0; w < windows.size(); ++w) {
        QJsonArray tabs;
        for (const Tab &tab : windows.at(w)) {
            QJsonArray entries;
            for (int h = 0; h < tab.history; ++h) {
                // The fields Firefox keeps for every entry of a history, so a history weighs
                // what it does in a real file.
                entries.append(QJsonObject{
                    {QStringLiteral("url"), QStringLiteral("https://history.example.org/page/%1").arg(h)},
                    {QStringLiteral("title"), QStringLiteral("An earlier page %1").arg(h)},
                    {QStringLiteral("cacheKey"), 0},
                    {QStringLiteral("ID"), h},
                    {QStringLiteral("docshellUUID"), QStringLiteral("{5a4c0b3e-%1-4f0e-9d1b-2f6c8e7a9b10}").arg(h, 4, 10, QLatin1Char('0'))},
                    {QStringLiteral("referrerInfo"), QStringLiteral("ljNx65eZQrmVJ4K1y0uUcwAAAAAAAAAAwAAAAAAAAEYAAAAAAAEBAAAAAAEA")},
                    {QStringLiteral("triggeringPrincipal_base64"),
                     QStringLiteral("{\"3\":{}}")},
                    {QStringLiteral("hasUserInteraction"), true},
                    {QStringLiteral("persist"), true},
                    {QStringLiteral("docIdentifier"), 1000 + h},
                });
            }
            entries.append(QJsonObject{{QStringLiteral("url"), tab.url}, {QStringLiteral("title"), tab.title}});
            tabs.append(QJsonObject{
                {QStringLiteral("entries"), entries},
                {QStringLiteral("index"), entries.size()},
                {QStringLiteral("lastAccessed"), 1765000000000.0},
            });
        }
        windowArray.append(QJsonObject{
            {QStringLiteral("tabs"), tabs},
            {QStringLiteral("selected"), w < selectedTabs.size() ? selectedTabs.at(w) : 1},
        });
    }
    const QJsonObject root{
        {QStringLiteral("version"), QJsonArray{QStringLiteral("sessionrestore"), 1}},
        {QStringLiteral("windows"), windowArray},
        {QStringLiteral("selectedWindow"), selectedWindow},
        {QStringLiteral("_closedWindows"), QJsonArray{}},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

QByteArray FirefoxFixture::mozLz4(const QByteArray &text, std::optional<quint32> declared)
{
    QByteArray block(LZ4_compressBound(int(text.size())), Qt::Uninitialized);
    const int written = LZ4_compress_default(text.constData(), block.data(), int(text.size()), int(block.size()));
    block.resize(written > 0 ? written : 0);
    const quint32 size = declared.value_or(quint32(text.size()));
    QByteArray frame("mozLz40\0", 8);
    for (int shift = 0; shift < 32; shift += 8)
        frame.append(char((size >> shift) & 0xff));
    return frame + block;
}

qint64 FirefoxFixture::deadPid()
{
    // Above the largest pid_max Linux allows (2^22), so no process can have it.
    return INT_MAX - 1;
}
