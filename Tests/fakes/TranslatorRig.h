#pragma once

#include "fakes/ManualDeepSeekServer.h"
#include "translation/Translator.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// A translator wired to the real transport, which talks to a hand-driven chat server on
// loopback, with every handler call recorded as one line of text, in order. Line ids handed out
// by `begin` count up from 100, so a handler called with a wrong or default line shows.
class TranslatorRig final {
public:
    TranslatorRig();
    ~TranslatorRig();

    ManualDeepSeekServer server;
    Translator translator;
    QStringList events;
    QList<int> contextAtBegin; // size of the context at every `begin`
    double now = 100.0;        // the translator's clock

    void enqueue(const QString &text, SpeechLanguage language, bool newTurn = false,
                 std::optional<double> spokenAt = std::nullopt);

    bool has(const QString &event) const { return events.contains(event); }
    QStringList starting(const QString &prefix) const;
    // The request whose last user message contains `text`; -1 when none.
    int requestWith(const QString &text) const;

    static QString name(SpeechLanguage language);

private:
    int m_nextLine = 100;
};
