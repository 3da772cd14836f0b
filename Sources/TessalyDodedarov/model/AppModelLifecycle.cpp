// The meeting lifecycle: starting, pausing, resuming, ending and renewing meetings, the tick
// that drives periodic work while listening, and what is saved when the application quits.
#include "model/AppModel.h"

#include "common/Clock.h"
#include "intelligence/ChatSession.h"
#include "platform/SessionEvents.h"
#include "accounts/AppInfo.h"
#include "translation/Glossary.h"
#include "platform/Keychain.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QTimer>

namespace {

QString sourceName(AudioSource source)
{
    switch (source) {
    case AudioSource::microphone:
        return QStringLiteral("microphone");
    case AudioSource::both:
        return QStringLiteral("both");
    case AudioSource::system:
        break;
    }
    return QStringLiteral("system");
}

} // namespace

void AppModel::toggle()
{
    if (!m_running) {
        startOrResume();
        return;
    }
    // `running` stays on until the engine reports the stop.
    log(QStringLiteral("pause"));
    m_engine->stop();
}

void AppModel::startOrResume()
{
    if (m_running)
        return;
    const std::optional<QString> key = Keychain::get(Keychain::elevenLabsAccount);
    if (!key) {
        setNotice(QStringLiteral("还没有语音识别的密钥：请在设置里填 ElevenLabs 的 API Key。"));
        m_platform.showSettings();
        return;
    }
    if (m_mode != DisplayMode::english && !Keychain::get(Keychain::deepSeekAccount)) {
        setNotice(QStringLiteral("还没有翻译的密钥：请在设置里填 DeepSeek 的 API Key。"));
        m_platform.showSettings();
        return;
    }
    if ((m_audioSource == AudioSource::microphone || m_audioSource == AudioSource::both)
        && !m_microphoneChecked) {
        // Asked on every start; the flag only lets the nested call through.
        QPointer<AppModel> self(this);
        m_platform.requestMicrophone([self](bool granted) {
            if (!self)
                return;
            if (!granted) {
                self->microphoneDenied();
                return;
            }
            self->m_microphoneChecked = true;
            self->startOrResume();
            self->m_microphoneChecked = false;
        });
        return;
    }
    if (!m_meetingActive) {
        beginMeeting();
        readCurrentPage();
    }
    setNotice(std::nullopt);
    setPanelVisible(true);
    setRunningState(true);
    m_translator->openLine.reset();
    m_platform.setKeepAwake(m_running && m_keepAwake);

    if (m_holdTimer) {
        m_holdTimer->stop();
        m_holdTimer->deleteLater();
    }
    m_holdTimer = new QTimer(this);
    m_holdTimer->setInterval(int(m_platform.timings.tickInterval * 1000));
    QPointer<AppModel> self(this);
    connect(m_holdTimer, &QTimer::timeout, this, [self] {
        if (self)
            self->handleTick();
    });
    m_holdTimer->start();

    m_engine->setKeyterms(Glossary::keyterms({}, background().keyterms(), 50));
    m_engine->start(*key);
}

void AppModel::beginMeeting()
{
    // The previous meeting's record is completed first, while its lines and its serial are
    // still here to be written and handed on.
    finalizeRecord();
    flushDeltas();
    // Post-meeting work still waiting for the ending meeting's translations takes its lines as
    // they were completed here, not the new meeting's.
    handEndedLines();
    // The translator drops its queue and context and starts a new generation, so an answer
    // still on its way for the old lines is dropped rather than applied to the new meeting's.
    m_translator->reset();
    // The meeting's bookkeeping starts over in one step, before anything below notifies: the
    // caption flow's pending text, the recap, research, quick checks and tab matching, the
    // diagnostics log, the statistics and billing. The recap and research intervals count from
    // now; the first quick check may start at once.
    m_meeting = MeetingState(Clock::uptime());
    // The published state follows, each change with its notification. The caption flow starts
    // empty.
    setBackfillPending({});
    m_lines.clear();
    emit linesChanged();
    setPartialText(QString());
    setLiveEnglish(QString());
    setTurnCount(0);
    // Recap, research, tab matching and proofreading answers carry the serial they were asked
    // under: from here on the old meeting's are dropped. Notes (below) take the new serial.
    m_meetingSerial += 1;
    setRecap(QString());
    setResearch(ResearchResult());
    // The chat lives with the meeting's research and notes; it starts empty.
    m_chat->beginMeeting();
    // The diagnostics log is the new meeting's by now, its times counting from the start set
    // above, so "start" is its first event.
    log(QStringLiteral("start"), {{QStringLiteral("version"), AppInfo::version()},
                                  {QStringLiteral("source"), sourceName(m_audioSource)}});
    publish(m_researchStatus, OptionalText(), &AppModel::researchStatusChanged);
    // The last meeting's translation trouble is no news to this one.
    setTranslationTrouble(std::nullopt);
    // Notes typed while no meeting was open belong to this one; an earlier meeting's go.
    if (!m_notesMeeting && !m_notes.isEmpty()) {
        m_notesMeeting = m_meetingSerial;
    } else if (m_notesMeeting) {
        setNotes({});
        m_notesMeeting.reset();
    }
    // Text in the raw language is shown as heard and not translated.
    std::optional<SpeechLanguage> raw;
    if (m_mode == DisplayMode::chinese)
        raw = SpeechLanguage::chinese;
    else if (m_mode == DisplayMode::english)
        raw = SpeechLanguage::english;
    m_pipeline = std::make_unique<CaptionPipeline>(raw);
    // The record is named after the new start; an earlier save's problem no longer applies.
    m_transcript->begin(m_platform.wallClock());
    setTranscriptProblem(std::nullopt);
    // The caption rows start empty; the width they break at is the panel's and stays.
    m_layout.rows = QStringList{QString()};
    m_layout.firstRowIndex = 0;
    m_layout.rowWidth = 0;
    m_layout.lastCharacter.reset();
    m_layout.pendingWord.clear();
    // Billing counts from zero. The windows hear of the meeting and get its rows last: their
    // slots read the model at once, and everything above is the new meeting's by then.
    publish(m_billedSeconds, 0.0, &AppModel::billedSecondsChanged);
    setMeetingActiveState(true);
    publishRows();
}

void AppModel::handleTick()
{
    maybeUpdateRecap();
    maybeResearch();
    maybeQuickResearch();
    maybeMatchBrowserTab();
    if (!m_pipeline)
        return;
    const QList<CaptionPipeline::Output> outputs = m_pipeline->tick(Clock::uptime());
    if (outputs.isEmpty())
        return;
    apply(outputs);
    refreshLiveEnglish();
}

void AppModel::endMeeting()
{
    if (!m_meetingActive)
        return;
    QPointer<AppModel> self(this);
    auto action = [self] {
        if (!self)
            return;
        self->proofreadWhenSettled();
        if (self->m_openRecordsAfterMeeting) {
            if (const std::optional<QString> file = self->m_transcript->fileURL()) {
                self->saveTranscript(true);
                if (QFile::exists(*file))
                    self->m_platform.revealFile(*file);
            }
        }
        self->setMeetingActiveState(false);
        self->setNotice(std::nullopt);
    };
    if (m_running) {
        m_afterStop = action;
        m_engine->stop();
    } else {
        action();
    }
}

void AppModel::newMeeting()
{
    QPointer<AppModel> self(this);
    auto action = [self] {
        if (!self)
            return;
        if (self->m_meetingActive)
            self->proofreadWhenSettled();
        self->setMeetingActiveState(false);
        self->startOrResume();
    };
    if (m_running) {
        m_afterStop = action;
        m_engine->stop();
    } else {
        action();
    }
}

void AppModel::prepareForQuit()
{
    if (m_running) {
        const double now = Clock::uptime();
        if (m_pipeline) {
            QList<CaptionPipeline::Output> outputs = m_pipeline->committed(m_meeting.lastPartialText, now);
            outputs += m_pipeline->flush();
            // No translation is asked for at quit: units become finished source lines.
            bool added = false;
            for (const CaptionPipeline::Output &output : outputs) {
                switch (output.kind) {
                case CaptionPipeline::Output::Kind::english:
                    appendEnglishPiece(output.text);
                    break;
                case CaptionPipeline::Output::Kind::closeEnglish:
                    closeEnglishLine();
                    break;
                case CaptionPipeline::Output::Kind::translate:
                    if (output.text.isEmpty())
                        break;
                    m_lines.append(untranslatedLine(output.text));
                    added = true;
                    break;
                case CaptionPipeline::Output::Kind::turn:
                    break;
                }
            }
            if (added)
                emit linesChanged();
        }
        m_meeting.lastPartialText.clear();
        m_engine->stop();
    }
    finalizeRecord();
    saveTranscript(true);
}

void AppModel::quitOnce()
{
    if (m_quitHandled)
        return;
    m_quitHandled = true;
    // The record is on disk before the machine may sleep again.
    prepareForQuit();
    m_platform.setKeepAwake(false);
    if (m_session)
        m_session->releaseInhibitor();
}

void AppModel::watchSession()
{
    if (m_session)
        return;
    QPointer<AppModel> self(this);
    SessionEvents::Callbacks callbacks;
    callbacks.sleep = [self] {
        if (!self || !self->m_running)
            return;
        self->m_saveBeforeSleep = true;
        self->m_engine->stop(QStringLiteral("电脑进入睡眠，已自动暂停。"));
    };
    callbacks.lock = [self] {
        // With keep-awake on, listening goes on behind the locked screen.
        if (!self || self->m_keepAwake || !self->m_running)
            return;
        // As on sleep, the record is on disk before the inhibitor is let go.
        self->m_saveBeforeSleep = true;
        self->m_engine->stop(
            QStringLiteral("屏幕已锁定，已自动暂停。（设置里打开“工作时保持唤醒”可以锁屏后继续）"));
    };
    // The session manager hears back only once the record is on disk.
    callbacks.shutdown = [self] {
        if (self)
            self->quitOnce();
    };
    callbacks.shutdownCancelled = [self] {
        if (!self || !self->m_quitHandled)
            return;
        // The app lives on: a later quit saves again, and listening holds the delay inhibitor
        // again so that the next shutdown waits for that save.
        self->m_quitHandled = false;
        if (self->m_running && self->m_session)
            self->m_session->holdInhibitor();
    };
    callbacks.endSession = [self] {
        if (self)
            self->quitOnce();
    };
    m_session = new SessionEvents(callbacks, this);
    // Listening holds logind's delay inhibitor; it is let go once the stop has been handled.
    connect(this, &AppModel::runningChanged, m_session, [this] {
        if (m_running && !m_quitHandled) {
            m_session->holdInhibitor();
            return;
        }
        if (m_running)
            return;
        if (m_saveBeforeSleep) {
            m_saveBeforeSleep = false;
            saveTranscript(true);
        }
        m_session->releaseInhibitor();
    });
    m_session->start();
    if (m_running)
        m_session->holdInhibitor();
}

void AppModel::minimize()
{
    setPanelVisible(false);
    setHovering(false);
    setMaximized(false);
}

CaptionLine AppModel::untranslatedLine(const QString &source) const
{
    CaptionLine line;
    line.id = int(m_lines.size());
    line.english = source;
    line.finished = true;
    line.time = m_platform.wallClock();
    return line;
}
