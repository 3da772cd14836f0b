// The meeting model's state, start-up, status texts, the context providers it installs in the
// translator, and the listener it hands to its service calls.
#include "model/AppModel.h"

#include "intelligence/ChatSession.h"

#include "common/Clock.h"
#include "intelligence/SessionNotes.h"
#include "speech/Graphemes.h"
#include "speech/Segmenter.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"
#include "translation/Glossary.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace {

// Characters an estimate draws one em wide: CJK ideographs and symbols, kana, hangul and the
// full-width forms.
bool isWide(char32_t c)
{
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF)
        || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF)
        || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60)
        || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

} // namespace

const QString AppModel::microphoneDeniedText = QStringLiteral(
    "泰萨利字幕没有麦克风权限。请到“系统设置 > 声音 > 输入”里打开，或把声音来源改回“系统声音”。");

AppModel::AppModel(Platform platform, KeyReading keys, QObject *parent)
    : QObject(parent), m_platform(std::move(platform)),
      m_keys({m_platform.checkKey, m_platform.fetchBalance}, keys)
{
    // Field values are the declared ones; the key flags came from the keychain with the
    // recognition keys above, or come when they are asked for.

    // What the model hears of its own service calls; the translator made below sends with it.
    makeTransportListener();

    // Settings, read without running any setter: nothing is listening yet, and a setter would
    // write the value straight back. This also makes the engine, translator and record writer.
    loadSettings();

    // The caption rows are laid out for the loaded look, with the pipeline made above.
    relayout();

    // The components report to the model and ask it for context; installed once they exist.
    installEngineCallbacks();
    installContextProviders();
    // A running engine moves to the recognition key the user or a failover makes active.
    connect(&m_keys, &ServiceKeys::activeKeyChosen, this, [this](const QString &key) {
        if (m_running)
            m_engine->setAPIKey(key);
    });
    installTranslatorHandlers();
    installChat();

    // The computed texts follow their inputs.
    for (auto signal : {&AppModel::runningChanged, &AppModel::recognitionTroubleChanged,
                        &AppModel::translationRouteNoteChanged, &AppModel::translationTroubleChanged,
                        &AppModel::noticeChanged, &AppModel::meetingActiveChanged,
                        &AppModel::linesChanged})
        connect(this, signal, this, &AppModel::statusNoteChanged);
    connect(this, &AppModel::backfillPendingChanged, this, &AppModel::backfillNoteChanged);
}

AppModel::~AppModel()
{
    // Research answers have nobody left to apply them to.
    m_researchCall.cancel();
    m_quickCall.cancel();
    // The engine's queue may still hold a callback; with the engine gone nothing more comes.
    m_engine.reset();
    if (m_translator)
        m_translator->handlers = {};
}

namespace {

// The application's one model, for the windows made on demand that have no other way to it.
// Process-wide by nature: one application, one meeting model.
QPointer<AppModel> &sharedModel()
{
    static QPointer<AppModel> model;
    return model;
}

} // namespace

AppModel *AppModel::makeShared(Platform platform)
{
    QPointer<AppModel> &model = sharedModel();
    Q_ASSERT(!model);
    model = new AppModel(std::move(platform), KeyReading::onRequest, QCoreApplication::instance());
    model->watchSession();
    return model;
}

AppModel *AppModel::shared()
{
    if (!sharedModel())
        return makeShared(Platform());
    return sharedModel();
}

AppModel::Measure AppModel::estimatedMeasure(double fontSize)
{
    return [fontSize](QStringView text) {
        double width = 0;
        for (QStringView character : Graphemes::split(text)) {
            const char32_t first = character.toUcs4().value(0);
            width += isWide(first) ? fontSize : 0.55 * fontSize;
        }
        return width;
    };
}

void AppModel::installEngineCallbacks()
{
    Engine::Callbacks &c = m_engine->callbacks;
    // Called on the engine's queue: each hops to the main thread with the model as context, so
    // a call queued for a model that is gone is dropped.
    c.phase = [this](Engine::Phase phase) {
        QMetaObject::invokeMethod(this, [this, phase] { publish(m_phase, phase, &AppModel::phaseChanged); },
                                  Qt::QueuedConnection);
    };
    c.billedSeconds = [this](double seconds) {
        QMetaObject::invokeMethod(this, [this, seconds] {
            publish(m_billedSeconds, m_meeting.billedBase + seconds, &AppModel::billedSecondsChanged);
        }, Qt::QueuedConnection);
    };
    c.connection = [this](const std::optional<QString> &text) {
        QMetaObject::invokeMethod(this, [this, text] { setRecognitionTrouble(text); },
                                  Qt::QueuedConnection);
    };
    installEngineRecognitionCallbacks();
}

void AppModel::installContextProviders()
{
    QPointer<AppModel> self(this);
    m_translator->memory = [self](const QString &text) {
        if (!self)
            return QString();
        return self->m_translator->stableMemory() + self->background().sentenceBlock(text);
    };
    m_translator->stableMemory = [self] {
        if (!self)
            return QString();
        QString out = self->background().stableBlock() + SessionNotes::promptBlock(self->m_notes)
            + self->m_research.promptBlock();
        if (!self->m_recap.isEmpty())
            out += QStringLiteral(
                       "\n\n【前情提要】本场会议到目前为止讲了这些（只供理解上下文、统一译法，不要翻译它）：\n")
                + self->m_recap;
        return out;
    };
    m_translator->sentenceHints = [self](const QString &text) {
        if (!self)
            return QString();
        return self->background().sentenceBlock(text);
    };
    // The script follows the model's own caption setting, read when a body is built.
    m_translator->traditional = [self] { return self && self->m_captionParts.traditional; };
}

void AppModel::makeTransportListener()
{
    // Calls may outlive the model: they then report to nobody, never to a later model.
    QPointer<AppModel> self(this);
    m_transport.result = [self](TranslationService service, const std::optional<QString> &failure) {
        if (self)
            self->noteTranslationResult(service, failure);
    };
    m_transport.routeChanged = [self](const std::optional<QString> &note) {
        if (self)
            self->setTranslationRouteNote(note);
    };
    m_transport.failover = [self] {
        if (self)
            self->m_meeting.stats.failovers += 1;
    };
    m_transport.request = [self] {
        if (self)
            self->m_meeting.stats.requests += 1;
    };
    m_transport.usage = [self](int prompt, int completion, int cached) {
        if (!self)
            return;
        self->m_meeting.stats.promptTokens += std::max(prompt, 0);
        self->m_meeting.stats.completionTokens += std::max(completion, 0);
        self->m_meeting.stats.cachedTokens += std::max(cached, 0);
    };
}

void AppModel::noteTranslationResult(TranslationService, const OptionalText &failure)
{
    const QUrl endpoint = DeepSeekTransport::endpoint();
    const QString host = endpoint.host().isEmpty() ? endpoint.toString() : endpoint.host();
    const QString outcome = failure ? QStringLiteral("失败：") + *failure : QStringLiteral("成功");
    const QString text = QStringLiteral("最近一次翻译：DeepSeek（") + host + QStringLiteral("）· ")
        + outcome + QStringLiteral(" · ") + m_platform.wallClock().toString(QStringLiteral("HH:mm:ss"));
    publishChanged(m_lastTranslation, OptionalText(text), &AppModel::lastTranslationChanged);
    setTranslationTrouble(failure ? OptionalText(QStringLiteral("翻译出错（DeepSeek：") + *failure
                                                 + QStringLiteral("），正在重试"))
                                  : std::nullopt);
}

AppModel::OptionalText AppModel::statusNote() const
{
    if (m_running) {
        for (const OptionalText *text : {&m_recognitionTrouble, &m_translationRouteNote,
                                         &m_translationTrouble})
            if (*text)
                return *text;
        return std::nullopt;
    }
    if (m_notice)
        return m_notice;
    if (m_meetingActive)
        return QStringLiteral("已暂停");
    if (!m_lines.isEmpty())
        return QStringLiteral("会议已结束");
    return std::nullopt;
}

AppModel::OptionalText AppModel::backfillNote() const
{
    if (m_backfillPending.isEmpty())
        return std::nullopt;
    return QStringLiteral("正在补译前面 ") + QString::number(m_backfillPending.size())
        + QStringLiteral(" 段英文，展开可查看");
}

SessionBackground AppModel::background() const
{
    SessionBackground out = SessionNotes::merged(m_notes);
    QSet<QString> names;
    for (const QString &name : out.names)
        names.insert(Glossary::normalize(name));
    for (const QString &name : m_research.names) {
        const QString key = Glossary::normalize(name);
        if (names.contains(key))
            continue;
        names.insert(key);
        out.names.append(name);
    }
    QSet<QString> terms;
    for (const GlossaryEntry &term : out.terms)
        terms.insert(Glossary::normalize(term.english));
    for (const GlossaryEntry &term : m_research.terms) {
        const QString key = Glossary::normalize(term.english);
        if (terms.contains(key))
            continue;
        terms.insert(key);
        out.terms.append(term);
    }
    if (out.title.isEmpty())
        out.title = m_research.domain;
    return out;
}

void AppModel::log(const QString &kind, const QMap<QString, QString> &fields)
{
    if (!m_diagnosticsEnabled)
        return;
    m_meeting.diag.add(Clock::uptime() - m_meeting.meetingStartedAt, kind, fields);
}

void AppModel::setRunningState(bool on)
{
    publish(m_running, on, &AppModel::runningChanged);
}

void AppModel::setMeetingActiveState(bool on)
{
    publish(m_meetingActive, on, &AppModel::meetingActiveChanged);
}

void AppModel::setNotice(const OptionalText &text)
{
    publish(m_notice, text, &AppModel::noticeChanged);
}

void AppModel::setRecognitionTrouble(const OptionalText &text)
{
    publishChanged(m_recognitionTrouble, text, &AppModel::recognitionTroubleChanged);
}

void AppModel::setTranslationTrouble(const OptionalText &text)
{
    publishChanged(m_translationTrouble, text, &AppModel::translationTroubleChanged);
}

void AppModel::setTranslationRouteNote(const OptionalText &text)
{
    publish(m_translationRouteNote, text, &AppModel::translationRouteNoteChanged);
}

void AppModel::setBackfillPending(const QSet<int> &pending)
{
    publish(m_backfillPending, pending, &AppModel::backfillPendingChanged);
}

void AppModel::setRecap(const QString &text)
{
    publish(m_recap, text, &AppModel::recapChanged);
}

void AppModel::setNotes(const QList<SessionNote> &notes)
{
    publish(m_notes, notes, &AppModel::notesChanged);
}

void AppModel::setResearch(const ResearchResult &result)
{
    publish(m_research, result, &AppModel::researchChanged);
}
