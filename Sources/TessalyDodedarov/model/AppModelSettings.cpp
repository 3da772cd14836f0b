// The meeting model's settings: loading them at start-up, their setters (store, write the key,
// then act), the caption look and the re-layout of the live rows.
#include "model/AppModel.h"

#include "common/Clock.h"
#include "common/UserDefaults.h"
#include "speech/Segmenter.h"
#include "translation/DeepSeekTransport.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace {

const QString keepAwakeKey = QStringLiteral("keepAwake");
const QString appearanceKey = QStringLiteral("captionAppearance");
const QString diarizeKey = QStringLiteral("diarize");
const QString englishOnlyKey = QStringLiteral("listenEnglishOnly");
const QString displayModeKey = QStringLiteral("displayMode");
const QString hideKey = QStringLiteral("hideFromSharing");
const QString audioSourceKey = QStringLiteral("audioSource");
const QString autoPauseKey = QStringLiteral("autoPauseMinutes");
const QString proofreadKey = QStringLiteral("proofreadAfterMeeting");
const QString researchKey = QStringLiteral("researchEnabled");
const QString webSearchKey = QStringLiteral("researchWebSearch");
const QString browserPageKey = QStringLiteral("readBrowserPage");
const QString diagnosticsKey = QStringLiteral("diagnosticsEnabled");
const QString chatWebSearchKey = QStringLiteral("chatWebSearch");
const QString openRecordsKey = QStringLiteral("openRecordsAfterMeeting");

// A stored flag is taken; anything else, absent or of another type, counts as on.
bool flagOrOn(const QString &key)
{
    return UserDefaults::flag(key).value_or(true);
}

bool finite(const RGBA &c)
{
    return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) && std::isfinite(c.a);
}

} // namespace

const QList<int> &AppModel::autoPauseChoices()
{
    static const QList<int> choices {5, 10, 20, 30, 60, 0};
    return choices;
}

void AppModel::loadSettings()
{
    // The stored choices that need nothing else; a flag that is absent or unreadable is on.
    m_captionParts = CaptionParts::load();
    m_audioSource = audioSourceFromString(UserDefaults::text(audioSourceKey).value_or(QString()))
                        .value_or(AudioSource::system);
    m_researchEnabled = flagOrOn(researchKey);
    m_researchWebSearch = flagOrOn(webSearchKey);
    m_readBrowserPage = flagOrOn(browserPageKey);
    m_diagnosticsEnabled = flagOrOn(diagnosticsKey);
    m_chatWebSearch = flagOrOn(chatWebSearchKey);

    // The components, made before anything is installed into them. The engine reads its own
    // settings from the file each time it starts.
    m_engine = std::make_unique<Engine>();
    m_translator = std::make_unique<Translator>(DeepSeekTransport::streamer(m_transport));
    m_translator->clock = [] { return Clock::uptime(); };
    m_transcript = std::make_unique<TranscriptWriter>(m_platform.recordsFolder());
    m_pipeline = std::make_unique<CaptionPipeline>(std::nullopt);

    // Defaults for the settings that other readers take from the file themselves (the engine
    // reads the speaker setting when it connects), registered before any of them can run.
    m_openRecordsAfterMeeting = flagOrOn(openRecordsKey);
    UserDefaults::registerDefaults({
        {QStringLiteral("fontSize"), 26.0},
        {hideKey, true},
        {QStringLiteral("expandedHeight"), 340.0},
        {diarizeKey, true},
        {proofreadKey, true},
        {autoPauseKey, 10},
        {QStringLiteral("interpreterMode"), true},
        {keepAwakeKey, true},
    });

    // The rest of the stored choices, and the segmenter's process-wide switch.
    m_keepAwake = UserDefaults::flag(keepAwakeKey).value_or(true);
    m_appearance = loadAppearance();
    Segmenter::interpreterMode = true;
    const qint64 minutes = UserDefaults::integer(autoPauseKey).value_or(10);
    m_autoPauseMinutes = int(std::clamp<qint64>(minutes, INT_MIN, INT_MAX));
    m_proofreadAfterMeeting = UserDefaults::flag(proofreadKey).value_or(true);

    // Every launch listens to every language and shows both.
    m_mode = DisplayMode::both;
    UserDefaults::setText(displayModeKey, DisplayModes::toString(DisplayMode::both));
    m_hideFromSharing = UserDefaults::flag(hideKey).value_or(true);
    m_diarize = UserDefaults::flag(diarizeKey).value_or(true);
    m_listenEnglishOnly = false;
    UserDefaults::setFlag(englishOnlyKey, false);
}

CaptionAppearance AppModel::loadAppearance()
{
    if (const std::optional<QJsonObject> stored = UserDefaults::json(appearanceKey)) {
        if (std::optional<CaptionAppearance> look = CaptionAppearance::fromJson(*stored)) {
            if (look->skin && !CaptionSkin::named(look->skin))
                look->skin.reset();
            return *look;
        }
    }
    CaptionAppearance look;
    const double size = UserDefaults::real(QStringLiteral("fontSize")).value_or(26.0);
    look.chineseSize = std::clamp(size, CaptionAppearance::minSize, CaptionAppearance::maxSize);
    look.englishSize = std::clamp(std::round(0.65 * look.chineseSize), CaptionAppearance::minSize,
                                  CaptionAppearance::maxSize);
    look.chineseFont = QString();
    look.englishFont = QStringLiteral("Avenir Next");
    look.chineseColor = {0.92, 0.96, 1.0, 1.0};
    look.englishColor = {0.35, 0.85, 0.95, 1.0};
    look.background = {0.04, 0.10, 0.22, 0.90};
    look.outline = false;
    look.skin = QStringLiteral("tech");
    if (const std::optional<double> opacity = UserDefaults::real(QStringLiteral("captionOpacity"))) {
        // An opacity is a colour component: a hand-edited 5 is fully opaque, not 5.
        look.background.a = std::clamp(*opacity, 0.0, 1.0);
        if (std::abs(*opacity - 0.78) > 0.01)
            look.skin.reset();
    }
    return look;
}

void AppModel::writeFlag(const QString &key, bool value)
{
    UserDefaults::setFlag(key, value);
}

void AppModel::setKeepAwakeSetting(bool on)
{
    publish(m_keepAwake, on, &AppModel::keepAwakeChanged);
    writeFlag(keepAwakeKey, on);
    m_platform.setKeepAwake(m_running && m_keepAwake);
}

void AppModel::setAppearance(const CaptionAppearance &look)
{
    if (look == m_appearance)
        return;
    const double oldSize = m_appearance.chineseSize;
    publish(m_appearance, look, &AppModel::appearanceChanged);
    const bool encodable = std::isfinite(look.chineseSize) && std::isfinite(look.englishSize)
        && finite(look.chineseColor) && finite(look.englishColor) && finite(look.background);
    if (encodable)
        UserDefaults::setJson(appearanceKey, look.toJson());
    else
        UserDefaults::remove(appearanceKey);
    if (look.chineseSize != oldSize)
        relayout();
}

void AppModel::customize(const std::function<void(CaptionAppearance &)> &change)
{
    CaptionAppearance copy = m_appearance;
    change(copy);
    copy.skin.reset();
    const CaptionAppearance &now = m_appearance;
    if (copy.chineseColor == now.chineseColor && copy.englishColor == now.englishColor
        && copy.background == now.background && copy.chineseFont == now.chineseFont
        && copy.englishFont == now.englishFont && copy.outline == now.outline)
        copy.skin = now.skin;
    setAppearance(copy);
}

void AppModel::adjustFontSize(double delta)
{
    // The preset id is carried over: resizing a preset look keeps its label.
    const CaptionAppearance next = m_appearance.scaled(delta);
    if (next == m_appearance)
        return;
    setAppearance(next);
}

void AppModel::applySkin(const CaptionSkin &skin)
{
    CaptionAppearance look = skin.appearance;
    look.chineseSize = m_appearance.chineseSize;
    look.englishSize = m_appearance.englishSize;
    look.skin = skin.id;
    setAppearance(look);
}

void AppModel::relayout()
{
    m_rowWidth = std::max(panelWidth - 36.0 - m_appearance.chineseSize, 120.0);
    m_rowMeasure = m_platform.measurer(m_appearance.chineseSize);
    m_layout.relayout(m_rowWidth, [measure = m_rowMeasure](const QString &text) { return measure(text); },
                      2);
    publishRows();
}

void AppModel::setDiarize(bool on)
{
    publish(m_diarize, on, &AppModel::diarizeChanged);
    // The engine reads the key itself when it reconnects: the write comes first.
    writeFlag(diarizeKey, on);
    if (m_running)
        m_engine->reconnectSoon();
}

void AppModel::setListenEnglishOnly(bool on)
{
    publish(m_listenEnglishOnly, on, &AppModel::listenEnglishOnlyChanged);
    writeFlag(englishOnlyKey, on);
    if (m_running)
        m_engine->reconnectSoon();
}

void AppModel::setCaptionParts(const CaptionParts &parts)
{
    publish(m_captionParts, parts, &AppModel::captionPartsChanged);
    if (!m_captionParts.chinese && !m_captionParts.english) {
        CaptionParts withChinese = m_captionParts;
        withChinese.chinese = true;
        setCaptionParts(withChinese);
    }
    CaptionParts::save(m_captionParts);
}

void AppModel::setMode(DisplayMode mode)
{
    publish(m_mode, mode, &AppModel::modeChanged);
}

void AppModel::setHideFromSharing(bool on)
{
    publish(m_hideFromSharing, on, &AppModel::hideFromSharingChanged);
    writeFlag(hideKey, on);
}

void AppModel::setAudioSource(AudioSource source)
{
    const AudioSource old = m_audioSource;
    publish(m_audioSource, source, &AppModel::audioSourceChanged);
    UserDefaults::setText(audioSourceKey, audioSourceToString(source));
    if (!m_running || source == old)
        return;
    if (source == AudioSource::system) {
        m_engine->restartCapture();
        return;
    }
    QPointer<AppModel> self(this);
    m_platform.requestMicrophone([self](bool granted) {
        if (!self)
            return;
        if (granted)
            self->m_engine->restartCapture();
        else
            self->microphoneDenied();
    });
}

void AppModel::microphoneDenied()
{
    setNotice(microphoneDeniedText);
    if (m_running) {
        m_resumeOnRestore = false;
        m_engine->stop(m_notice.value_or(QString()));
    }
}

void AppModel::setAutoPauseMinutes(int minutes)
{
    publish(m_autoPauseMinutes, minutes, &AppModel::autoPauseMinutesChanged);
    UserDefaults::setInteger(autoPauseKey, minutes);
}

void AppModel::setProofreadAfterMeeting(bool on)
{
    publish(m_proofreadAfterMeeting, on, &AppModel::proofreadAfterMeetingChanged);
    writeFlag(proofreadKey, on);
}

void AppModel::setResearchEnabled(bool on)
{
    publish(m_researchEnabled, on, &AppModel::researchEnabledChanged);
    writeFlag(researchKey, on);
}

void AppModel::setResearchWebSearch(bool on)
{
    publish(m_researchWebSearch, on, &AppModel::researchWebSearchChanged);
    writeFlag(webSearchKey, on);
}

void AppModel::setReadBrowserPage(bool on)
{
    publish(m_readBrowserPage, on, &AppModel::readBrowserPageChanged);
    writeFlag(browserPageKey, on);
}

void AppModel::setDiagnosticsEnabled(bool on)
{
    publish(m_diagnosticsEnabled, on, &AppModel::diagnosticsEnabledChanged);
    writeFlag(diagnosticsKey, on);
}

void AppModel::setChatWebSearch(bool on)
{
    publish(m_chatWebSearch, on, &AppModel::chatWebSearchChanged);
    writeFlag(chatWebSearchKey, on);
}

void AppModel::setOpenRecordsAfterMeeting(bool on)
{
    publish(m_openRecordsAfterMeeting, on, &AppModel::openRecordsAfterMeetingChanged);
    writeFlag(openRecordsKey, on);
}

void AppModel::setPanelVisible(bool on)
{
    publish(m_panelVisible, on, &AppModel::panelVisibleChanged);
}

void AppModel::setMaximized(bool on)
{
    publish(m_maximized, on, &AppModel::maximizedChanged);
}

void AppModel::setExpanded(bool on)
{
    publish(m_expanded, on, &AppModel::expandedChanged);
}

void AppModel::setHovering(bool on)
{
    publish(m_hovering, on, &AppModel::hoveringChanged);
}
