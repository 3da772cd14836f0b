// Corrections of heard names against what the meeting knows: new units before translation,
// suspect words asked about in quick checks, and lines already shown once research learns more.
#include "model/AppModel.h"

#include "common/Clock.h"
#include "intelligence/ChatSession.h"
#include "intelligence/NameFix.h"
#include "intelligence/QuickResearch.h"
#include "platform/Keychain.h"

namespace {

constexpr int kPendingFixes = 20;
constexpr int kQuickChecks = 40;      // quick checks per meeting
constexpr double kQuickSpacing = 8.0; // seconds between two quick checks
constexpr double kQuickGather = 1.5;  // seconds a small batch waits for more words
constexpr int kQuickBatch = 5;
constexpr int kShownLines = 150;      // lines already shown that research may correct
constexpr int kRefixes = 12;          // re-translations per correction pass

QString joinChanges(const QList<NameFix::Change> &changes)
{
    QStringList parts;
    for (const NameFix::Change &change : changes)
        parts.append(change.heard + QStringLiteral(" → ") + change.correct);
    return parts.join(u'；');
}

} // namespace

QStringList AppModel::soundAlikeTargets() const
{
    const SessionBackground known = background();
    QStringList words = known.names;
    for (const GlossaryEntry &term : known.terms)
        words += term.aliases();
    for (const ResearchResult::Fix &fix : m_research.fixes)
        words.append(fix.correct);
    return NameFix::targets(words);
}

NameFix::Result AppModel::correctText(const QString &text, const SessionBackground &known,
                                      const QStringList &targets) const
{
    return NameFix::correctionChain(text, known.names, m_research.fixes, targets, m_platform.isDictionaryWord);
}

QString AppModel::fixSoundAlikes(const QString &text)
{
    const NameFix::Result result = correctText(text, background(), soundAlikeTargets());
    if (result.changes.isEmpty())
        return result.text;
    QStringList words;
    for (const NameFix::Change &change : result.changes)
        words.append(change.correct);
    m_meeting.pendingFixed.append({result.text, words});
    log(QStringLiteral("soundalike"), {{QStringLiteral("text"), text}, {QStringLiteral("changes"), joinChanges(result.changes)}});
    if (m_meeting.pendingFixed.size() > kPendingFixes)
        m_meeting.pendingFixed.removeFirst();
    QList<NameFix::Change> fresh;
    for (const NameFix::Change &change : result.changes) {
        const QString heard = change.heard.toLower();
        if (m_meeting.loggedSoundAlikes.contains(heard))
            continue;
        m_meeting.loggedSoundAlikes.insert(heard);
        fresh.append(change);
    }
    if (!fresh.isEmpty())
        logBackground(QStringLiteral("〔近音纠正〕识别写成的词像是本场已知的名字被听错了，已换成正确写法（字幕里换了颜色）：\n")
                      + joinChanges(fresh));
    return result.text;
}

void AppModel::markFixed(int id)
{
    if (m_meeting.pendingFixed.isEmpty() || id < 0 || id >= m_lines.size())
        return;
    CaptionLine &line = m_lines[id];
    bool changed = false;
    for (auto it = m_meeting.pendingFixed.begin(); it != m_meeting.pendingFixed.end();) {
        if (!line.english.contains(it->text)) {
            ++it;
            continue;
        }
        for (const QString &word : std::as_const(it->words)) {
            if (!line.fixed.contains(word)) {
                line.fixed.append(word);
                changed = true;
            }
        }
        it = m_meeting.pendingFixed.erase(it);
    }
    if (changed)
        emit linesChanged();
}

void AppModel::noteSuspects(const QString &text, SpeechLanguage language)
{
    if (!m_researchEnabled || language != SpeechLanguage::english)
        return;
    if (m_meeting.quickCount >= kQuickChecks)
        return;
    QSet<QString> known;
    for (const QString &name : background().names)
        for (const QString &piece : name.simplified().split(u' ', Qt::SkipEmptyParts))
            known.insert(piece.toLower());
    for (const QString &word : soundAlikeTargets())
        known.insert(word.toLower());
    const QStringList found = QuickResearch::suspects(text, known, m_meeting.askedSuspects, m_platform.isDictionaryWord);
    if (found.isEmpty())
        return;
    if (m_meeting.suspects.isEmpty())
        m_meeting.firstSuspectAt = Clock::uptime();
    for (const QString &word : found) {
        m_meeting.askedSuspects.insert(word.toLower());
        m_meeting.suspects.append({word, text});
    }
    maybeQuickResearch();
}

void AppModel::maybeQuickResearch()
{
    if (m_meeting.suspects.isEmpty() || m_meeting.quickBusy || !m_running)
        return;
    const double now = Clock::uptime();
    if (now - m_meeting.lastQuickAt < kQuickSpacing)
        return;
    if (m_meeting.suspects.size() < kQuickBatch && now - m_meeting.firstSuspectAt < kQuickGather)
        return;
    const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
    if (!key)
        return;
    const QList<QuickResearch::Suspect> batch = m_meeting.suspects.mid(0, kQuickBatch);
    m_meeting.suspects.remove(0, batch.size());
    m_meeting.firstSuspectAt = now;
    m_meeting.lastQuickAt = now;
    m_meeting.quickBusy = true;
    m_meeting.quickCount += 1;

    const bool webSearch = m_researchWebSearch && !m_webSearchRejected;
    const SessionBackground known = background();
    const QString domain = m_research.domain.isEmpty() ? known.title : m_research.domain;
    const Research::Prompt prompt = QuickResearch::prompt(batch, domain, known.names, notesText(), webSearch);
    QStringList words;
    QStringList sentences;
    for (const QuickResearch::Suspect &suspect : batch) {
        words.append(suspect.term);
        sentences.append(suspect.sentence);
    }
    const QString asked = words.join(u'、');
    const QString context = sentences.join(u'\n');
    publish(m_researchStatus, OptionalText(QStringLiteral("正在查：") + asked + QStringLiteral("…")),
            &AppModel::researchStatusChanged);

    QPointer<AppModel> self(this);
    m_quickCall = startResearchCall(prompt, webSearch, *key, [self, asked, context](
                                                                 const ResearchCall::Report &report) {
        self->m_meeting.quickBusy = false;
        self->log(QStringLiteral("quick_reply"), {{QStringLiteral("summary"), asked}, {QStringLiteral("reply"), report.reply}});
        const std::optional<ResearchResult> result = QuickResearch::parse(report.reply, context);
        if (result && (!result->domain.isEmpty() || !result->names.isEmpty() || !result->terms.isEmpty()
                       || !result->fixes.isEmpty())) {
            self->log(QStringLiteral("quick_result"), {{QStringLiteral("summary"), result->summary()}});
            self->absorbResearch(*result, report.webSearch && !self->m_webSearchRejected,
                                 QStringLiteral("即时研究：") + asked);
        } else {
            const QString summary = self->m_research.summary();
            self->publish(self->m_researchStatus,
                          summary.isEmpty() ? OptionalText() : OptionalText(QStringLiteral("已研究：") + summary),
                          &AppModel::researchStatusChanged);
        }
        self->maybeQuickResearch();
    });
}

void AppModel::fixShownLines()
{
    const SessionBackground known = background();
    const QStringList targets = soundAlikeTargets();
    if (m_research.fixes.isEmpty() && targets.isEmpty() && known.names.isEmpty())
        return;
    auto chain = [&](const QString &text) {
        return text.isEmpty() ? NameFix::Result{text, {}} : correctText(text, known, targets);
    };
    int changedLines = 0;
    int retranslated = 0;
    QList<NameFix::Change> pass;
    QSet<QString> passHeard;
    for (int i = std::max(0, int(m_lines.size()) - kShownLines); i < m_lines.size(); ++i) {
        CaptionLine line = m_lines[i];
        if (!line.finished || line.english.isEmpty())
            continue;
        const NameFix::Result english = chain(line.english);
        const NameFix::Result chinese = chain(line.chinese);
        const NameFix::Result alt = chain(line.alt);
        QList<NameFix::Change> changes = english.changes + chinese.changes + alt.changes;

        const bool englishChanged = english.text != line.english;
        const bool chineseChanged = chinese.text != line.chinese;
        if (englishChanged && !chineseChanged && !line.chinese.isEmpty()) {
            const SpeechLanguage language = line.language ? *line.language : SpeechLanguage(english.text);
            const QList<NameFix::Change> relevant = english.changes + chinese.changes;
            const bool carried = std::all_of(relevant.cbegin(), relevant.cend(), [&](const NameFix::Change &change) {
                return chinese.text.contains(change.correct);
            });
            if (language != SpeechLanguage::chinese && !carried && retranslated < kRefixes) {
                QStringList heardAs;
                for (const NameFix::Change &change : relevant)
                    heardAs.append(QStringLiteral("「") + change.heard + QStringLiteral("」听成了，正确是「")
                                   + change.correct + QStringLiteral("」"));
                const QString hint = QStringLiteral("\n\n【原文已改正】语音识别把 ") + heardAs.join(u'；')
                                     + QStringLiteral("。按改正后的原文翻译；人名、试验名、研究名等专有名词保留原文写法（比如 SYNCHRONOUS 研究），不要意译。");
                QStringList before;
                for (int j = std::max(0, i - 2); j < i; ++j)
                    if (!m_lines[j].merged)
                        before.append(m_lines[j].english);
                m_translator->refix(Translator::BackfillItem(i, english.text, before), hint);
                log(QStringLiteral("refix"), {{QStringLiteral("text"), english.text}, {QStringLiteral("changes"), joinChanges(relevant)}});
                retranslated += 1;
            }
        }
        line.english = english.text;
        line.chinese = chinese.text;
        line.alt = alt.text;
        if (line.revised) {
            const NameFix::Result source = chain(line.revised->source);
            const NameFix::Result translation = chain(line.revised->translation);
            const NameFix::Result revisedAlt = chain(line.revised->alt);
            changes += source.changes + translation.changes + revisedAlt.changes;
            line.revised = CaptionLine::Revision{source.text, translation.text, revisedAlt.text};
        }
        if (changes.isEmpty())
            continue;
        for (const NameFix::Change &change : std::as_const(changes)) {
            if (!line.fixed.contains(change.correct))
                line.fixed.append(change.correct);
            const QString heard = change.heard.toLower();
            if (!passHeard.contains(heard)) {
                passHeard.insert(heard);
                pass.append(change);
            }
        }
        m_lines[i] = line;
        changedLines += 1;
    }
    if (changedLines == 0)
        return;
    for (const QString &heard : std::as_const(passHeard))
        m_meeting.loggedSoundAlikes.insert(heard);
    log(QStringLiteral("shown_fix"), {{QStringLiteral("summary"), QString::number(changedLines) + QStringLiteral(" 段：") + joinChanges(pass)}});
    QString note = QStringLiteral("〔研究纠正〕前面已经显示的 ") + QString::number(changedLines)
                   + QStringLiteral(" 段字幕改过来了（字幕里换了颜色）");
    if (retranslated > 0)
        note += QStringLiteral("，其中 ") + QString::number(retranslated) + QStringLiteral(" 段的译文按改正后的原文重译");
    note += QStringLiteral("：\n") + joinChanges(pass);
    logBackground(note);
    emit linesChanged();
    publishRows();
}
