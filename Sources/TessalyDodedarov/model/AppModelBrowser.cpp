// The browser page of a meeting: the front page read into a note when listening starts, and the
// tab being listened to found among the open tabs.
#include "model/AppModel.h"

#include "intelligence/SessionNotes.h"
#include "platform/Keychain.h"
#include "speech/Segmenter.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"

namespace {

constexpr int kFirstCheckWords = 80;
constexpr int kSecondCheckWords = 400;
constexpr int kRecentLines = 40;

bool noteHolds(const QList<SessionNote> &notes, const QString &address)
{
    return std::any_of(notes.cbegin(), notes.cend(),
                       [&address](const SessionNote &note) { return note.text.contains(address); });
}

} // namespace

void AppModel::readCurrentPage()
{
    if (!m_readBrowserPage)
        return;
    QPointer<AppModel> self(this);
    const int serial = m_meetingSerial;
    m_platform.currentBrowserPage([self, serial](const std::optional<QUrl> &url) {
        // Only pages of video and meeting sites are read without asking; never a sign-in,
        // payment or account page.
        if (!url || !SessionNotes::autoReadable(*url) || !BrowserTabs::isVideo(*url))
            return;
        if (!self || self->m_meetingSerial != serial)
            return;
        const QString address = url->toString(QUrl::FullyEncoded);
        if (noteHolds(self->m_notes, address))
            return;
        self->submitNote(address, true);
    });
}

void AppModel::maybeMatchBrowserTab()
{
    if (!m_readBrowserPage || !m_running || m_meeting.tabBusy || m_meeting.tabMatched || m_meeting.tabChecks > 1)
        return;
    const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
    if (!key)
        return;
    QStringList sources;
    int words = 0;
    for (const CaptionLine &line : std::as_const(m_lines)) {
        if (!line.finished || line.merged || line.english.isEmpty())
            continue;
        words += int(Segmenter::words(line.english).size());
        sources.append(line.revised ? line.revised->source : line.english);
    }
    if (words < (m_meeting.tabChecks == 0 ? kFirstCheckWords : kSecondCheckWords))
        return;
    m_meeting.tabBusy = true;
    m_meeting.tabChecks += 1;
    const QString recent = sources.mid(std::max<qsizetype>(0, sources.size() - kRecentLines)).join(u'\n');

    QPointer<AppModel> self(this);
    const int serial = m_meetingSerial;
    const QString captured = *key;
    m_platform.browserTabs([self, serial, recent, captured](const QList<BrowserTabs::Tab> &tabs) {
        if (!self || self->m_meetingSerial != serial)
            return;
        const QList<BrowserTabs::Tab> candidates = BrowserTabs::candidates(tabs);
        if (candidates.isEmpty()) {
            self->m_meeting.tabBusy = false;
            return;
        }
        const BrowserTabs::Prompt prompt = BrowserTabs::prompt(candidates, recent);
        auto reply = std::make_shared<QString>();
        // A failed stream ends the request; what arrived is read like any answer.
        DeepSeekTransport::stream(
            DeepSeek::agentBody(prompt.system, prompt.user, 200), captured,
            [reply](const QString &delta) { reply->append(delta); },
            [self, serial, candidates, reply](const DeepSeekTransport::Outcome &) {
                if (!self || self->m_meetingSerial != serial)
                    return;
                self->m_meeting.tabBusy = false;
                const BrowserTabs::Answer answer = BrowserTabs::parse(*reply, candidates);
                QStringList titles;
                for (const BrowserTabs::Tab &tab : candidates)
                    titles.append(tab.title);
                QString summary = QStringLiteral("拿不准");
                if (answer.decided)
                    summary = answer.tab ? QStringLiteral("选中：") + answer.tab->title : QStringLiteral("都对不上");
                self->log(QStringLiteral("tab_judge"), {{QStringLiteral("summary"), summary},
                                                        {QStringLiteral("tabs"), titles.join(QStringLiteral(" ｜ "))},
                                                        {QStringLiteral("reply"), *reply}});
                if (!answer.decided)
                    return;
                auto dropAutomatic = [&self](const QString &why) {
                    const QList<SessionNote> notes = self->m_notes;
                    for (const SessionNote &note : notes) {
                        if (!note.automatic)
                            continue;
                        self->deleteNote(note.id);
                        self->logBackground(why + note.text);
                    }
                };
                if (!answer.tab) {
                    dropAutomatic(QStringLiteral("〔去掉〕开始时读的网页和正在讲的内容对不上："));
                    return;
                }
                self->m_meeting.tabMatched = true;
                const QString address = answer.tab->url.toString(QUrl::FullyEncoded);
                if (noteHolds(self->m_notes, address))
                    return;
                dropAutomatic(QStringLiteral("〔去掉〕开始时读的网页不是正在听的："));
                const QString page = answer.tab->title.isEmpty() ? address : answer.tab->title + u'\n' + address;
                self->logBackground(QStringLiteral("〔找到正在听的网页〕") + page);
                self->submitNote(address, true);
            },
            self->m_transport);
    });
}
