#pragma once

#include <QObject>
#include <QString>

#include <memory>

// The English dictionary-word test behind the meeting model's `isDictionaryWord` hook: Hunspell
// with the en_US dictionary, loaded when the first meeting starts. Loading takes a noticeable fraction of a second, so `load` reads
// the dictionary on a worker thread; until it has loaded, and for good when it is missing or
// unreadable, every word counts as a dictionary word, the hook's own default, so nothing is
// corrected or picked as suspect. Hunspell is not thread-safe: once loaded, the checker is used
// only on the thread it lives on (the main thread). The application delegate owns it.
class SpellChecker final : public QObject {
    Q_OBJECT

public:
    static inline QString defaultAffix = QStringLiteral("/usr/share/hunspell/en_US.aff");
    static inline QString defaultDictionary = QStringLiteral("/usr/share/hunspell/en_US.dic");

    explicit SpellChecker(QObject *parent = nullptr);
    ~SpellChecker() override;

    // Starts reading the dictionary; `loaded` follows on this object's thread. A second call
    // while one is under way, or after a dictionary is in place, does nothing.
    void load(const QString &affixPath = defaultAffix, const QString &dictionaryPath = defaultDictionary);
    bool isLoaded() const;
    bool isLoading() const { return m_loading; }

    // Whether the word, as written, is an English dictionary word. True while no dictionary
    // is loaded.
    bool isWord(const QString &word) const;

signals:
    void loaded(bool ok);

private:
    class Dictionary;
    std::shared_ptr<Dictionary> m_dictionary;
    bool m_loading = false;
};
