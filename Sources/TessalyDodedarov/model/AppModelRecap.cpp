// The running recap: when it is renewed, which lines are sent, and how the reply is taken over.
#include "model/AppModel.h"

#include "common/Clock.h"
#include "intelligence/Recap.h"
#include "platform/Keychain.h"
#include "speech/Segmenter.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"

#include <QPointer>

#include <memory>

void AppModel::maybeUpdateRecap()
{
    if (!m_running || m_meeting.recapBusy)
        return;
    const double now = Clock::uptime();
    if (now - m_meeting.lastRecapAt < 60.0)
        return;
    const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount);
    if (!key)
        return;
    const int count = int(m_lines.size());
    const int start = std::min(m_meeting.recapLine, count);

    auto usable = [](const CaptionLine &line) {
        return line.finished && !line.merged && !line.english.isEmpty();
    };
    QList<int> fresh;
    int words = 0;
    for (int i = start; i < count; ++i) {
        const CaptionLine &line = m_lines.at(i);
        if (!usable(line) || m_meeting.recapSent.contains(i))
            continue;
        fresh.append(i);
        words += int(Segmenter::words(line.english).size());
    }
    if (words < 250)
        return;

    m_meeting.recapBusy = true;
    m_meeting.lastRecapAt = now;
    // Covered from here on: every line up to the first one still being translated. A line
    // after it that this request sends is remembered so it is neither sent nor counted again.
    int firstOpen = count;
    for (int i = start; i < count; ++i) {
        const CaptionLine &line = m_lines.at(i);
        if (!line.finished && !line.merged) {
            firstOpen = i;
            break;
        }
    }
    m_meeting.recapLine = firstOpen;
    for (int i : fresh)
        m_meeting.recapSent.insert(i);

    QList<Recap::Line> pairs;
    for (int i : fresh) {
        const CaptionLine &line = m_lines.at(i);
        if (line.revised)
            pairs.append({line.revised->source, line.revised->translation});
        else
            pairs.append({line.english, line.chinese});
    }
    const Recap::Prompt prompt = Recap::prompt(m_recap, Recap::material(pairs, 2000));
    const QByteArray body = DeepSeek::agentBody(prompt.system, prompt.user, 900);

    QPointer<AppModel> self(this);
    const int serial = m_meetingSerial;
    auto reply = std::make_shared<QString>();
    DeepSeekTransport::stream(
        body, *key, [reply](const QString &piece) { *reply += piece; },
        [self, serial, start, fresh, reply](const DeepSeekTransport::Outcome &) {
            // Whatever arrived is read, also after a failure.
            if (!self || self->m_meetingSerial != serial)
                return;
            self->m_meeting.recapBusy = false;
            if (const std::optional<QString> text = Recap::parse(*reply)) {
                self->setRecap(*text);
                // Lines before the first uncovered one need no remembering.
                for (auto it = self->m_meeting.recapSent.begin(); it != self->m_meeting.recapSent.end();) {
                    if (*it < self->m_meeting.recapLine)
                        it = self->m_meeting.recapSent.erase(it);
                    else
                        ++it;
                }
                return;
            }
            // Nothing usable: the same lines are offered again with the next request.
            self->m_meeting.recapLine = start;
            for (int i : fresh)
                self->m_meeting.recapSent.remove(i);
        },
        m_transport);
}
