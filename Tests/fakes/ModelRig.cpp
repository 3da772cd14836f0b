#include "fakes/ModelRig.h"

#include "common/Clock.h"
#include "common/SerialQueue.h"
#include "fakes/TestKeyring.h"
#include "accounts/KeyCheck.h"
#include "speech/ScribeClient.h"
#include "speech/Segmenter.h"
#include "translation/DeepSeekTransport.h"
#include "platform/Keychain.h"

#include <QTest>

// Every static the model or a test may replace, as it was before the rig.
struct ModelRig::Saved {
    QUrl deepSeekAddress = DeepSeekTransport::baseAddress;
    QSet<QString> noUsageOption = DeepSeekTransport::noUsageOption;
    QSet<QString> compatModels = DeepSeekTransport::compatModels;
    QUrl scribeAddress = ScribeClient::baseAddress;
    QUrl elevenLabsAddress = KeyCheck::elevenLabsAddress;
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
    platform.wallClock = [this] { return wallNow; };
    platform.recordsFolder = [this] { return recordsFolder(); };
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
    DeepSeekTransport::baseAddress = s.deepSeekAddress;
    DeepSeekTransport::noUsageOption = s.noUsageOption;
    DeepSeekTransport::compatModels = s.compatModels;
    ScribeClient::baseAddress = s.scribeAddress;
    KeyCheck::elevenLabsAddress = s.elevenLabsAddress;
    Segmenter::interpreterMode = s.interpreterMode;
    Clock::reset();
}

AppModel &ModelRig::make(AppModel::KeyReading keys)
{
    destroyModel();
    AppModel::Platform calls;
    calls.fetchPage = [this](const QUrl &url, auto done) { platform.fetchPage(url, std::move(done)); };
    calls.requestMicrophone = [this](auto done) { platform.requestMicrophone(std::move(done)); };
    calls.setKeepAwake = [this](bool on) { platform.setKeepAwake(on); };
    calls.checkKey = [this](KeyProvider provider, const QString &key, auto done) {
        platform.checkKey(provider, key, std::move(done));
    };
    calls.fetchBalance = [this](KeyProvider provider, const QString &key, auto done) {
        platform.fetchBalance(provider, key, std::move(done));
    };
    calls.currentBrowserPage = [this](auto done) { platform.currentBrowserPage(std::move(done)); };
    calls.browserTabs = [this](auto done) { platform.browserTabs(std::move(done)); };
    calls.isDictionaryWord = [this](const QString &word) { return platform.isDictionaryWord(word); };
    calls.revealFile = [this](const QString &path) { platform.revealFile(path); };
    calls.measurer = [this](double fontSize) { return platform.measurer(fontSize); };
    calls.showSettings = [this] { platform.showSettings(); };
    calls.openFolder = [this](const QString &folder) { platform.openFolder(folder); };
    calls.recordsFolder = [this] { return platform.recordsFolder(); };
    calls.wallClock = [this] { return platform.wallClock(); };
    calls.timings = platform.timings;
    m_model = std::make_unique<AppModel>(std::move(calls), keys);
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

QString ModelRig::captionPrompt(const QString &unit)
{
    const qsizetype before = deepSeek.requests().size();
    deepSeek.enqueue(FakeDeepSeekServer::stream({QStringLiteral("好。")}));
    m_model->apply({CaptionPipeline::Output::translate(unit)});
    if (!QTest::qWaitFor([&] { return deepSeek.requests().size() > before; }, 15000))
        return QString();
    return deepSeek.requests().at(before).contents().value(0);
}

bool ModelRig::saveIfPending()
{
    if (!m_model->m_saveTimer)
        return false;
    m_model->saveTranscript(false);
    return true;
}

SessionStats ModelRig::sampleStats(int latencies)
{
    SessionStats stats;
    for (int i = 0; i < latencies; ++i)
        stats.addLatency(1.9 + i * 0.1, 0.8, 0.35);
    stats.promptTokens = 48000;
    stats.cachedTokens = 30000;
    stats.completionTokens = 5200;
    return stats;
}
