// Caption units from the pipeline: each unit is cleaned, checked for an echo, given its language
// and queued for translation; text shown as heard goes into English-only lines, broken into
// paragraphs.
#include "model/AppModel.h"

#include "common/Clock.h"
#include "intelligence/Overlap.h"
#include "intelligence/RawParagraphs.h"
#include "platform/Keychain.h"
#include "speech/Fillers.h"
#include "speech/Graphemes.h"
#include "speech/Segmenter.h"

#include <algorithm>
#include <span>

namespace {

QString lastCharacters(const QString &text, qsizetype n)
{
    const QList<QStringView> characters = Graphemes::split(text);
    if (characters.size() <= n)
        return text;
    const QStringView from = characters.at(characters.size() - n);
    return text.sliced(from.data() - text.constData());
}

QString joinedTokens(const QStringList &tokens, qsizetype from, qsizetype to)
{
    return Segmenter::join(std::span(tokens.constData() + from, size_t(to - from)));
}

} // namespace

void AppModel::apply(const QList<CaptionPipeline::Output> &outputs)
{
    using Kind = CaptionPipeline::Output::Kind;
    for (const CaptionPipeline::Output &output : outputs) {
        switch (output.kind) {
        case Kind::english:
            appendEnglish(output.text);
            break;
        case Kind::closeEnglish:
            closeEnglishLine();
            break;
        case Kind::turn: {
            const QStringList words = Segmenter::words(m_lastSubmitted);
            if (!words.isEmpty() && !Segmenter::endsSentence(words.last())) {
                // The last unit did not end a sentence: the same speaker is still talking.
                log(QStringLiteral("turn_ignored"),
                    {{QStringLiteral("text"), QStringLiteral("上一段没说完：") + lastCharacters(m_lastSubmitted, 80)}});
                break;
            }
            log(QStringLiteral("turn"));
            m_meeting.pendingTurn = true;
            setTurnCount(m_turnCount + 1);
            break;
        }
        case Kind::translate: {
            const QString &raw = output.text;
            if (m_mode != DisplayMode::both) {
                const SpeechLanguage detected(raw);
                const bool ownLanguage = m_mode == DisplayMode::chinese ? detected == SpeechLanguage::chinese
                                                                        : detected == SpeechLanguage::english;
                if (ownLanguage) {
                    appendEnglish(raw);
                    closeEnglishLine();
                    break;
                }
            }
            const QString cleaned = Fillers::dropStrayQuotes(Fillers::strip(raw));
            if (cleaned.trimmed().isEmpty() || Fillers::isNoise(cleaned))
                break;
            const double now = Clock::uptime();
            if (Overlap::isEcho(cleaned, m_lastSubmitted) && now - m_lastSubmittedAt < 8.0) {
                log(QStringLiteral("echo_dropped"),
                    {{QStringLiteral("text"), cleaned}, {QStringLiteral("previous"), m_lastSubmitted}});
                break;
            }
            const QString text = fixSoundAlikes(cleaned);
            const SpeechLanguage language = unitLanguage(text);
            const QString languageName = language == SpeechLanguage::english ? QStringLiteral("english")
                : language == SpeechLanguage::chinese                         ? QStringLiteral("chinese")
                                                                              : QStringLiteral("other");
            log(QStringLiteral("unit"), {{QStringLiteral("raw"), raw},
                                         {QStringLiteral("text"), text},
                                         {QStringLiteral("language"), languageName},
                                         {QStringLiteral("turn"), m_meeting.pendingTurn ? QStringLiteral("1") : QStringLiteral("0")}});
            noteSuspects(text, language);
            const bool newTurn = m_meeting.pendingTurn;
            const double spokenAt = std::min(m_lastSpeechChange, now);
            const QString trimmed = text.trimmed();
            m_meeting.pendingTurn = false;
            m_lastSubmitted = text;
            m_lastSubmittedAt = now;
            // Pumping may call back into the model at once; the state above is already set.
            if (!trimmed.isEmpty()) {
                m_translator->queue.append({trimmed, newTurn, spokenAt, language});
                m_translator->pump();
            }
            break;
        }
        }
    }
}

SpeechLanguage AppModel::unitLanguage(const QString &text)
{
    const SpeechLanguage detected(text);
    const double now = Clock::uptime();
    if (detected == SpeechLanguage::english)
        return SpeechLanguage::english;
    if (detected == SpeechLanguage::other) {
        m_lastOtherLanguageAt = now;
        return SpeechLanguage::other;
    }
    if (now - m_lastOtherLanguageAt >= 30.0)
        return SpeechLanguage::chinese;
    // Soon after other speech, a few Chinese-looking characters may be Japanese kanji.
    int cjk = 0;
    for (QStringView character : Graphemes::split(text))
        if (Segmenter::isCJK(character))
            ++cjk;
    if (cjk >= 13)
        return SpeechLanguage::chinese;
    static const QString function = QStringLiteral("的了是在们这那吗呢吧么个说和就也都");
    for (QChar c : function)
        if (text.contains(c))
            return SpeechLanguage::chinese;
    return SpeechLanguage::other;
}

void AppModel::appendEnglish(const QString &text)
{
    // A loop rather than recursion: each round closes a paragraph and goes on with the rest.
    QString rest = text;
    while (!rest.isEmpty()) {
        const QStringList tokens = Segmenter::words(rest);
        double existing = 0;
        if (m_meeting.openEnglishLine && *m_meeting.openEnglishLine >= 0 && *m_meeting.openEnglishLine < m_lines.size())
            for (const QString &word : Segmenter::words(m_lines.at(*m_meeting.openEnglishLine).english))
                existing += RawParagraphs::weight(word);
        const std::optional<qsizetype> cut = RawParagraphs::breakIndex(existing, tokens);
        if (!cut || *cut < 0) {
            appendEnglishPiece(rest);
            return;
        }
        const qsizetype end = std::min(*cut + 1, tokens.size());
        appendEnglishPiece(joinedTokens(tokens, 0, end));
        closeEnglishLine();
        rest = end < tokens.size() ? joinedTokens(tokens, end, tokens.size()) : QString();
    }
}

void AppModel::appendEnglishPiece(const QString &text)
{
    if (text.isEmpty())
        return;
    if (!m_meeting.openEnglishLine || *m_meeting.openEnglishLine < 0 || *m_meeting.openEnglishLine >= m_lines.size()) {
        CaptionLine line;
        line.id = int(m_lines.size());
        line.newTurn = m_meeting.pendingTurn && !m_lines.isEmpty();
        line.time = m_platform.wallClock();
        m_lines.append(line);
        m_meeting.openEnglishLine = line.id;
    }
    CaptionLine &line = m_lines[*m_meeting.openEnglishLine];
    if (!line.english.isEmpty() && Segmenter::needsSpace(Graphemes::last(line.english), Graphemes::first(text)))
        line.english += u' ';
    line.english += text;

    QStringView left;
    if (!m_meeting.englishBacklog.isEmpty())
        left = Graphemes::last(m_meeting.englishBacklog);
    else if (m_layout.lastCharacter)
        left = *m_layout.lastCharacter;
    const QString separator = !left.isEmpty() && Segmenter::needsSpace(left, Graphemes::first(text))
        ? QStringLiteral(" ")
        : QString();
    const QString piece = (m_meeting.pendingTurn ? QStringLiteral("\n") : separator) + text;
    m_meeting.pendingTurn = false;
    linesEdited();

    // While a translation streams, its pieces go first; this text waits its turn.
    if (m_translator->running()) {
        m_meeting.englishBacklog += piece;
        return;
    }
    feedLayout(piece);
    m_layout.placePendingWord();
    publishRows();
}

void AppModel::closeEnglishLine()
{
    if (m_meeting.openEnglishLine && *m_meeting.openEnglishLine >= 0 && *m_meeting.openEnglishLine < m_lines.size()
        && !m_lines.at(*m_meeting.openEnglishLine).finished) {
        const int id = *m_meeting.openEnglishLine;
        m_lines[id].finished = true;
        linesEdited();
        scheduleSave();
        const CaptionLine &line = m_lines.at(id);
        if (SpeechLanguage(line.english) == SpeechLanguage::chinese && line.chinese.isEmpty()
            && Keychain::get(Keychain::deepSeekAccount))
            m_translator->correct(Translator::BackfillItem(id, line.english, contextBefore(id, false)));
    }
    m_meeting.openEnglishLine.reset();
    maybeMergeSentences(false);
}

void AppModel::setTurnCount(int count)
{
    publish(m_turnCount, count, &AppModel::turnCountChanged);
}
