#include "platform/SpellChecker.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QStringEncoder>
#include <QtConcurrent/QtConcurrentRun>

#include <hunspell.hxx>

#include <string>

// Owns the Hunspell instance and the encoding its dictionary is written in.
class SpellChecker::Dictionary final {
public:
    Dictionary(const QString &affixPath, const QString &dictionaryPath)
        : m_hunspell(QFile::encodeName(affixPath).constData(), QFile::encodeName(dictionaryPath).constData())
    {
        const QString encoding = QString::fromStdString(m_hunspell.get_dict_encoding());
        m_utf8 = encoding.compare(QStringLiteral("UTF-8"), Qt::CaseInsensitive) == 0;
        if (!m_utf8)
            m_encoding = encoding;
    }

    bool spell(const QString &word)
    {
        if (m_utf8)
            return m_hunspell.spell(word.toStdString());
        QStringEncoder encoder(m_encoding.toLatin1().constData());
        if (!encoder.isValid())
            return true;
        const QByteArray bytes = encoder.encode(word);
        // A word the dictionary's character set cannot hold is no word of that dictionary.
        if (encoder.hasError())
            return false;
        return m_hunspell.spell(bytes.toStdString());
    }

private:
    Hunspell m_hunspell;
    bool m_utf8 = true;
    QString m_encoding;
};

SpellChecker::SpellChecker(QObject *parent) : QObject(parent) {}

SpellChecker::~SpellChecker() = default;

void SpellChecker::load(const QString &affixPath, const QString &dictionaryPath)
{
    if (m_loading || m_dictionary)
        return;
    m_loading = true;
    auto *watcher = new QFutureWatcher<std::shared_ptr<Dictionary>>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        m_loading = false;
        m_dictionary = watcher->result();
        watcher->deleteLater();
        emit loaded(m_dictionary != nullptr);
    });
    watcher->setFuture(QtConcurrent::run([affixPath, dictionaryPath]() -> std::shared_ptr<Dictionary> {
        // Hunspell reports a missing file only on stderr and then knows no word at all.
        if (!QFileInfo(affixPath).isReadable() || !QFileInfo(dictionaryPath).isReadable())
            return nullptr;
        return std::make_shared<Dictionary>(affixPath, dictionaryPath);
    }));
}

bool SpellChecker::isLoaded() const { return m_dictionary != nullptr; }

bool SpellChecker::isWord(const QString &word) const
{
    if (!m_dictionary || word.isEmpty())
        return true;
    return m_dictionary->spell(word);
}
