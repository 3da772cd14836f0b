// Recognition events: partial and committed transcripts into the caption pipeline, the live
// source text under the captions, and what a stop of recognition does (save, merge, key switch).
#include "model/AppModel.h"

#include "common/Clock.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>

void AppModel::installEngineRecognitionCallbacks()
{
    Engine::Callbacks &c = m_engine->callbacks;
    // Called on the engine's queue; the model as context drops a call once the model is gone.
    c.partial = [this](const QString &text, const std::optional<SpeakerList> &labels) {
        QMetaObject::invokeMethod(this, [this, text, labels] { handlePartial(text, labels); },
                                  Qt::QueuedConnection);
    };
    c.committed = [this](const QString &text) {
        QMetaObject::invokeMethod(this, [this, text] { handleCommitted(text); }, Qt::QueuedConnection);
    };
    c.stopped = [this](const std::optional<QString> &reason) {
        QMetaObject::invokeMethod(this, [this, reason] { handleStopped(reason); }, Qt::QueuedConnection);
    };
}

void AppModel::handlePartial(const QString &text,
                             const std::optional<CaptionPipeline::SpeakerLabels> &speakers)
{
    const double now = Clock::uptime();
    if (!text.isEmpty() && text != m_meeting.lastPartialText)
        m_lastSpeechChange = now;
    m_meeting.lastPartialText = text;
    setPartialText(m_mode == DisplayMode::english ? QString() : text);
    apply(m_pipeline->partial(text, speakers, now));
    refreshLiveEnglish();
}

void AppModel::handleCommitted(const QString &text)
{
    const double now = Clock::uptime();
    // A segment committed without a partial before it is still new speech.
    if (m_meeting.lastPartialText.isEmpty() && !text.isEmpty())
        m_lastSpeechChange = now;
    if (!text.isEmpty())
        log(QStringLiteral("txt"), {{QStringLiteral("text"), text}});
    m_meeting.lastPartialText.clear();
    apply(m_pipeline->committed(text, now));
    refreshLiveEnglish();
}

void AppModel::handleStopped(const std::optional<QString> &reason)
{
    log(QStringLiteral("stopped"), {{QStringLiteral("reason"), reason.value_or(QStringLiteral("暂停"))}});
    if (m_holdTimer) {
        m_holdTimer->stop();
        m_holdTimer->deleteLater();
        m_holdTimer = nullptr;
    }
    setPartialText(QString());
    m_meeting.lastPartialText.clear();
    setLiveEnglish(QString());
    apply(m_pipeline->flush());
    saveTranscript(false);
    setRunningState(false);
    m_platform.setKeepAwake(false);
    setRecognitionTrouble(std::nullopt);
    maybeMergeSentences(true);
    m_meeting.billedBase = m_billedSeconds;
    setNotice(reason);

    // A lifecycle action (end or renew the meeting) owns this stop: no key switch.
    if (m_afterStop) {
        const std::function<void()> action = std::exchange(m_afterStop, nullptr);
        action();
        return;
    }
    if (!reason || !m_keys.switchElevenLabsKey(*reason))
        return;
    const int n = m_keys.elevenLabsKeys().active;
    log(QStringLiteral("key_switch"), {{QStringLiteral("reason"), *reason}});
    startOrResume();
    setNotice(std::nullopt);
    const QString text = ServiceKeys::keySwitchNotice(*reason, n);
    setRecognitionTrouble(text);
    QPointer<AppModel> self(this);
    QTimer::singleShot(int(m_platform.timings.keySwitchNoticeDelay * 1000), this, [self, text] {
        // A newer message stays.
        if (self && self->m_recognitionTrouble == text)
            self->setRecognitionTrouble(std::nullopt);
    });
}

void AppModel::setPartialText(const QString &text)
{
    publish(m_partial, text, &AppModel::partialChanged);
}
