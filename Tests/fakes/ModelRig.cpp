#include "fakes/ModelRig.h"

#include "common/Clock.h"
#include "common/SerialQueue.h"
#include "fakes/TestKeyring.h"
#include "accounts/KeyCheck.h"
#include "speech/ScribeClient.h"
#include "speech/Segmenter.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"
#include "platform/Keychain.h"
#include "translation/TranslationRouting.h"

// Every static the model or a test may replace, as it was before the rig.
struct ModelRig::Saved {
    decltype(AppModel::fetchPage) fetchPage = AppModel::fetchPage;
    decltype(AppModel::requestMicrophone) requestMicrophone = AppModel::requestMicrophone;
    decltype(AppModel::setKeepAwake) setKeepAwake = AppModel::setKeepAwake;
    decltype(AppModel::checkKey) checkKey = AppModel::checkKey;
    decltype(AppModel::fetchBalance) fetchBalance = AppModel::fetchBalance;
    decltype(AppModel::currentBrowserPage) currentBrowserPage = AppModel::currentBrowserPage;
    decltype(AppModel::browserTabs) browserTabs = AppModel::browserTabs;
    decltype(AppModel::isDictionaryWord) isDictionaryWord = AppModel::isDictionaryWord;
    decltype(AppModel::revealFile) revealFile = AppModel::revealFile;
    decltype(AppModel::measurer) measurer = AppModel::measurer;
    decltype(AppModel::showSettings) showSettings = AppModel::showSettings;
    decltype(AppModel::openFolder) openFolder = AppModel::openFolder;
    decltype(AppModel::wallClock) wallClock = AppModel::wallClock;
    decltype(AppModel::recordsFolder) recordsFolder = AppModel::recordsFolder;
    double tickInterval = AppModel::tickInterval;
    double deltaFlushDelay = AppModel::deltaFlushDelay;
    double saveDelay = AppModel::saveDelay;
    double keySwitchNoticeDelay = AppModel::keySwitchNoticeDelay;
    double settlePollInterval = AppModel::settlePollInterval;
    int settlePolls = AppModel::settlePolls;

    decltype(DeepSeekTransport::onResult) onResult = DeepSeekTransport::onResult;
    QUrl deepSeekAddress = DeepSeekTransport::baseAddress;
    QSet<QString> noUsageOption = DeepSeekTransport::noUsageOption;
    QSet<QString> compatModels = DeepSeekTransport::compatModels;
    QUrl scribeAddress = ScribeClient::baseAddress;
    QUrl elevenLabsAddress = KeyCheck::elevenLabsAddress;
    decltype(TranslationRouting::hasKey) hasKey = TranslationRouting::hasKey;
    decltype(TranslationRouting::onChange) onChange = TranslationRouting::onChange;
    decltype(TranslationRouting::onFailover) onFailover = TranslationRouting::onFailover;
    decltype(TranslationRouting::onUsage) onUsage = TranslationRouting::onUsage;
    decltype(TranslationRouting::onRequest) onRequest = TranslationRouting::onRequest;
    bool traditional = DeepSeek::traditional;
    bool interpreterMode = Segmenter::interpreterMode;
};

ModelRig::ModelRig() : m_saved(std::make_unique<Saved>())
{
    if (!deepSeek.listen() || !scribe.listen())
        qFatal("cannot listen on loopback");
    DeepSeekTransport::baseAddress = deepSeek.baseUrl();
    ScribeClient::baseAddress = scribe.address();
    KeyCheck::elevenLabsAddress = QUrl(QStringLiteral("http://127.0.0.1:9")); // no fake: tests set one
    Clock::source = [this] { return now; };
    AppModel::wallClock = [this] { return wallNow; };
    AppModel::recordsFolder = [this] { return recordsFolder(); };
    for (const QString &account : {Keychain::deepSeekAccount, Keychain::elevenLabsAccount,
                                   Keychain::elevenLabsListAccount})
        storeKey(account, QString());
}

ModelRig::~ModelRig()
{
    destroyModel();
    for (const QString &account : {Keychain::deepSeekAccount, Keychain::elevenLabsAccount,
                                   Keychain::elevenLabsListAccount})
        Keychain::set(QString(), account);
    const Saved &s = *m_saved;
    AppModel::fetchPage = s.fetchPage;
    AppModel::requestMicrophone = s.requestMicrophone;
    AppModel::setKeepAwake = s.setKeepAwake;
    AppModel::checkKey = s.checkKey;
    AppModel::fetchBalance = s.fetchBalance;
    AppModel::currentBrowserPage = s.currentBrowserPage;
    AppModel::browserTabs = s.browserTabs;
    AppModel::isDictionaryWord = s.isDictionaryWord;
    AppModel::revealFile = s.revealFile;
    AppModel::measurer = s.measurer;
    AppModel::showSettings = s.showSettings;
    AppModel::openFolder = s.openFolder;
    AppModel::wallClock = s.wallClock;
    AppModel::recordsFolder = s.recordsFolder;
    AppModel::tickInterval = s.tickInterval;
    AppModel::deltaFlushDelay = s.deltaFlushDelay;
    AppModel::saveDelay = s.saveDelay;
    AppModel::keySwitchNoticeDelay = s.keySwitchNoticeDelay;
    AppModel::settlePollInterval = s.settlePollInterval;
    AppModel::settlePolls = s.settlePolls;
    DeepSeekTransport::onResult = s.onResult;
    DeepSeekTransport::baseAddress = s.deepSeekAddress;
    DeepSeekTransport::noUsageOption = s.noUsageOption;
    DeepSeekTransport::compatModels = s.compatModels;
    ScribeClient::baseAddress = s.scribeAddress;
    KeyCheck::elevenLabsAddress = s.elevenLabsAddress;
    TranslationRouting::hasKey = s.hasKey;
    TranslationRouting::onChange = s.onChange;
    TranslationRouting::onFailover = s.onFailover;
    TranslationRouting::onUsage = s.onUsage;
    TranslationRouting::onRequest = s.onRequest;
    DeepSeek::traditional = s.traditional;
    Segmenter::interpreterMode = s.interpreterMode;
    Clock::reset();
}

AppModel &ModelRig::make(AppModel::KeyReading keys)
{
    destroyModel();
    m_model = std::make_unique<AppModel>(nullptr, keys);
    return *m_model;
}

void ModelRig::destroyModel()
{
    m_model.reset();
}

bool ModelRig::startEngine()
{
    Engine &engine = *m_model->m_engine;
    engine.start(QString::fromUtf8(scribe.expectedKey));
    bool standby = false;
    engine.m_work->sync([&] { standby = engine.m_phase == Engine::Phase::standby; });
    return standby;
}

void ModelRig::connectEngineNow()
{
    Engine &engine = *m_model->m_engine;
    engine.m_work->sync([&] {
        engine.m_lastVoice = Clock::uptime();
        engine.connectIfNeeded();
    });
}

void ModelRig::engineTick()
{
    Engine &engine = *m_model->m_engine;
    engine.m_work->sync([&] {
        engine.m_lastVoice = Clock::uptime();
        engine.tick();
    });
}

bool ModelRig::engineConnected()
{
    Engine &engine = *m_model->m_engine;
    bool connected = false;
    engine.m_work->sync([&] { connected = engine.m_scribe != nullptr; });
    return connected;
}

void ModelRig::setLines(const QList<CaptionLine> &lines)
{
    m_model->m_lines = lines;
    emit m_model->linesChanged();
}

void ModelRig::beginMeeting()
{
    m_model->beginMeeting();
}

void ModelRig::tick()
{
    m_model->handleTick();
}

void ModelRig::setLastPartial(const QString &text)
{
    m_model->m_meeting.lastPartialText = text;
}

int ModelRig::recapLine() const
{
    return m_model->m_meeting.recapLine;
}

void ModelRig::setBackgroundLog(const QList<TranscriptWriter::Entry> &entries)
{
    m_model->m_meeting.backgroundLog = entries;
}

void ModelRig::storeKey(const QString &account, const QString &value)
{
    if (Keychain::set(value, account))
        return;
    // Model tests need a keyring that takes writes. A test program before this one (the key
    // store's own tests lock the collection on purpose) may have left it locked; a locked
    // collection refuses, since the test session has no prompter. Unlock it and say so.
    qWarning("the test keyring refused a write; unlocking it and writing again");
    if (!TestKeyring::unlock() || !Keychain::set(value, account))
        qFatal("the test keyring refused a write");
}

std::optional<QString> ModelRig::storedKey(const QString &account)
{
    // The keyring itself, past the keychain's cache.
    const SecretStore::Reading reading = SecretStore::read(Keychain::service(), account);
    if (reading.status != SecretStore::Reading::Status::found)
        return std::nullopt;
    return QString::fromUtf8(reading.data);
}

void ModelRig::useRawPipeline(std::optional<SpeechLanguage> raw)
{
    m_model->m_pipeline = std::make_unique<CaptionPipeline>(raw);
}

void ModelRig::setLiveEnglish(const QString &text)
{
    m_model->m_liveEnglish = text;
}

void ModelRig::setPhase(Engine::Phase phase)
{
    m_model->publish(m_model->m_phase, phase, &AppModel::phaseChanged);
}

void ModelRig::setProofreadStatus(const AppModel::OptionalText &text)
{
    m_model->setProofreadStatus(text);
}

void ModelRig::setTranscriptProblem(const AppModel::OptionalText &text)
{
    m_model->setTranscriptProblem(text);
}

bool ModelRig::saveIfPending()
{
    if (!m_model->m_saveTimer)
        return false;
    m_model->saveTranscript(false);
    return true;
}
