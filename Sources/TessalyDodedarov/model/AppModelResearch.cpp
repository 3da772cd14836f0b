// Research of the meeting while it runs: the periodic pass over the recent transcript, the
// absorption of every research or quick-check result, and the meeting record's notes of it.
#include "model/AppModel.h"

#include "common/Clock.h"
#include "intelligence/Research.h"
#include "platform/Keychain.h"
#include "speech/Segmenter.h"
#include "translation/Glossary.h"

namespace {

constexpr double kResearchSpacing = 150.0; // seconds between two periodic research passes
constexpr int kResearchWords = 120;        // new words a pass needs
constexpr int kOverlapLines = 8;           // lines of the previous pass sent again
constexpr int kMaterialLines = 60;

bool eligible(const CaptionLine &line)
{
    return line.finished && !line.merged && !line.english.isEmpty();
}

} // namespace

void AppModel::logBackground(const QString &text)
{
    TranscriptWriter::Entry entry;
    entry.time = m_platform.wallClock();
    entry.block = text;
    m_meeting.backgroundLog.append(entry);
    scheduleSave();
}

QString AppModel::notesText() const
{
    QStringList notes;
    for (const SessionNote &note : m_notes)
        notes.append(note.text);
    return notes.join(u'\n');
}

ResearchCall AppModel::startResearchCall(const Research::Prompt &prompt, bool webSearch, const QString &key,
                                         std::function<void(const ResearchCall::Report &)> handle)
{
    QPointer<AppModel> self(this);
    const int serial = m_meetingSerial;
    return ResearchCall::start(prompt, webSearch, key,
                               [self, serial, handle = std::move(handle)](const ResearchCall::Report &report) {
        if (!self)
            return;
        // Only the service's refusal of the tool switches web search off; a time-out or a
        // dropped connection says nothing about the tool.
        if (report.refused)
            self->m_webSearchRejected = true;
        if (report.cancelled || self->m_meetingSerial != serial)
            return;
        handle(report);
    }, m_transport);
}

void AppModel::maybeResearch()
{
    if (!m_researchEnabled || !m_running || m_meeting.researchBusy)
        return;
    const double now = Clock::uptime();
    if (now - m_meeting.lastResearchAt < kResearchSpacing)
        return;
    const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
    if (!key)
        return;
    const int firstNew = std::min<int>(m_meeting.researchLine, int(m_lines.size()));
    int words = 0;
    for (int i = firstNew; i < m_lines.size() && words < kResearchWords; ++i)
        if (eligible(m_lines[i]))
            words += int(Segmenter::words(m_lines[i].english).size());
    if (words < kResearchWords)
        return;

    m_meeting.researchBusy = true;
    m_meeting.lastResearchAt = now;
    m_meeting.researchLine = int(m_lines.size());

    QStringList material;
    for (int i = std::max(0, firstNew - kOverlapLines); i < m_lines.size(); ++i) {
        const CaptionLine &line = m_lines[i];
        if (!eligible(line))
            continue;
        const QString source = line.revised ? line.revised->source : line.english;
        const QString translation = line.revised ? line.revised->translation : line.chinese;
        material.append(translation.isEmpty() ? source : source + u'（' + translation + u'）');
    }
    if (material.size() > kMaterialLines)
        material = material.mid(material.size() - kMaterialLines);
    const QString recent = material.join(u'\n');

    const bool webSearch = m_researchWebSearch && !m_webSearchRejected;
    const Research::Prompt prompt = Research::prompt(recent, m_recap, m_research, notesText(), webSearch);
    publish(m_researchStatus,
            OptionalText(webSearch ? QStringLiteral("正在研究最近的内容（可能会联网搜索）…")
                                   : QStringLiteral("正在研究最近的内容…")),
            &AppModel::researchStatusChanged);

    QPointer<AppModel> self(this);
    m_researchCall = startResearchCall(prompt, webSearch, *key, [self, recent, firstNew](
                                                                    const ResearchCall::Report &report) {
        self->m_meeting.researchBusy = false;
        self->log(QStringLiteral("research_reply"),
                  {{QStringLiteral("reply"), report.reply},
                   {QStringLiteral("search"), report.webSearch ? QStringLiteral("1") : QStringLiteral("0")}});
        if (const std::optional<ResearchResult> result = Research::parse(report.reply, recent)) {
            self->absorbResearch(*result, report.webSearch && !self->m_webSearchRejected,
                                 QStringLiteral("自动研究"));
            return;
        }
        self->log(QStringLiteral("research_unparsed"), {{QStringLiteral("reply"), report.reply}});
        self->publish(self->m_researchStatus, OptionalText(QStringLiteral("这次没研究出结果，稍后再试。")),
                      &AppModel::researchStatusChanged);
        self->m_meeting.researchLine = firstNew;
    });
}

void AppModel::absorbResearch(const ResearchResult &result, bool webSearch, const QString &label)
{
    const ResearchResult previous = m_research;
    const SessionBackground known = background();
    QStringList knownNames = known.names;
    for (const GlossaryEntry &term : known.terms)
        knownNames.append(term.english);
    ResearchResult incoming = result;
    incoming.dropMisheardNames(knownNames);
    ResearchResult merged = m_research;
    merged.merge(incoming);
    setResearch(merged);

    if (const std::optional<QString> text = incoming.logText(previous, webSearch, label)) {
        logBackground(*text);
        log(QStringLiteral("research_result"), {{QStringLiteral("summary"), *text}});
    }
    fixShownLines();
    const QString summary = m_research.summary();
    publish(m_researchStatus, summary.isEmpty() ? OptionalText() : OptionalText(QStringLiteral("已研究：") + summary),
            &AppModel::researchStatusChanged);
    refreshKeyterms();
}
