#include "fakes/TranslatorRig.h"

#include "translation/DeepSeekTransport.h"

namespace {

QString optionalText(const std::optional<QString> &text)
{
    return text ? *text : QStringLiteral("<none>");
}

} // namespace

QString TranslatorRig::name(SpeechLanguage language)
{
    switch (language) {
    case SpeechLanguage::english: return QStringLiteral("en");
    case SpeechLanguage::chinese: return QStringLiteral("zh");
    case SpeechLanguage::other: return QStringLiteral("other");
    }
    return {};
}

TranslatorRig::TranslatorRig() : translator(DeepSeekTransport::streamer({}))
{
    if (!server.listen())
        qFatal("cannot listen on loopback");
    DeepSeekTransport::baseAddress = server.baseUrl();
    translator.clock = [this] { return now; };

    Translator::Handlers &h = translator.handlers;
    h.begin = [this](const QString &text, bool newTurn) {
        contextAtBegin.append(int(translator.context().size()));
        const int id = m_nextLine++;
        events << QStringLiteral("begin %1 %2%3").arg(id).arg(text, newTurn ? " [turn]" : "");
        return id;
    };
    h.append = [this](int line, const QString &piece) {
        events << QStringLiteral("append %1 %2").arg(line).arg(piece);
    };
    h.finish = [this](int line, bool ok) {
        events << QStringLiteral("finish %1 %2").arg(line).arg(ok ? "ok" : "failed");
    };
    h.corrected = [this](int line, const QString &text) {
        events << QStringLiteral("corrected %1 %2").arg(line).arg(text);
    };
    h.backfillDone = [this](int line, const std::optional<QString> &) {
        events << QStringLiteral("backfillDone %1").arg(line);
    };
    h.fatal = [this](const QString &message) { events << QStringLiteral("fatal ") + message; };
    h.latency = [this](int, double sinceSpeech, double sinceRequest) {
        events << QStringLiteral("latency %1 %2").arg(sinceSpeech).arg(sinceRequest);
    };
    h.rechecked = [this](int line, const QString &, const std::optional<QString> &tr, const QString &alt) {
        events << QStringLiteral("rechecked %1 %2|%3").arg(line).arg(optionalText(tr), alt);
    };
    h.merged = [this](const QList<int> &ids, const QString &, const QString &source, const std::optional<QString> &tr,
                      const QString &alt) {
        QStringList idText;
        for (int id : ids)
            idText << QString::number(id);
        events << QStringLiteral("merged %1 %2|%3|%4").arg(idText.join(u','), source, optionalText(tr), alt);
    };
    h.continueLine = [this](int line, const QString &text) {
        events << QStringLiteral("continue %1 %2").arg(line).arg(text);
    };
    h.language = [this](int line, SpeechLanguage language) {
        events << QStringLiteral("language %1 %2").arg(line).arg(name(language));
    };
    h.alternate = [this](int line, const QString &text) {
        events << QStringLiteral("alternate %1 %2").arg(line).arg(text);
    };
    h.refixed = [this](int line, const QString &, const std::optional<QString> &tr, const QString &alt) {
        events << QStringLiteral("refixed %1 %2|%3").arg(line).arg(optionalText(tr), alt);
    };
}

TranslatorRig::~TranslatorRig()
{
    // Calls still in flight end when the server goes; nothing may reach the recorder by then.
    translator.handlers = {};
}

void TranslatorRig::enqueue(const QString &text, SpeechLanguage language, bool newTurn,
                            std::optional<double> spokenAt)
{
    translator.queue.append({text, newTurn, spokenAt.value_or(now), language});
}

QStringList TranslatorRig::starting(const QString &prefix) const
{
    QStringList out;
    for (const QString &e : events)
        if (e.startsWith(prefix))
            out << e;
    return out;
}

int TranslatorRig::requestWith(const QString &text) const
{
    for (int i = 0; i < server.count(); ++i)
        if (server.at(i).lastUser().contains(text))
            return i;
    return -1;
}
