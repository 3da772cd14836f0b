#pragma once

#include "captions/CaptionAppearance.h"
#include "intelligence/BrowserTabs.h"
#include "intelligence/ChatMessage.h"
#include "intelligence/QuickResearch.h"
#include "intelligence/ResearchCall.h"
#include "captions/CaptionLayout.h"
#include "intelligence/ResearchResult.h"
#include "intelligence/SessionBackground.h"
#include "intelligence/SessionNote.h"
#include "intelligence/SessionStats.h"
#include "model/CaptionLine.h"
#include "model/DisplayMode.h"
#include "model/MeetingState.h"
#include "model/ServiceKeys.h"
#include "records/DiagnosticLog.h"
#include "records/Diagnostics.h"
#include "records/TranscriptWriter.h"
#include "captions/CaptionParts.h"
#include "speech/AudioSource.h"
#include "speech/CaptionPipeline.h"
#include "speech/Engine.h"
#include "translation/Proofread.h"
#include "translation/TranslationService.h"
#include "translation/Translator.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class ChatSession;
class QTimer;
class SessionEvents;

// The one meeting model of the application: it owns a meeting from start to end, receives the
// engine's recognition events and the translator's results, keeps the caption lines the panel
// shows, holds and persists the user's settings, owns the service keys (`keys()`), and drives
// the periodic background work. Every view observes its properties and every user action goes
// through it.
//
// Main thread only. `shared()` makes the one instance on first use; tests construct their own.
// Engine callbacks arrive on the engine's queue and are posted here with the model as context;
// hooks and task completions hold a QPointer and do nothing once the model is gone. GUI
// services come in as one `Platform` value when it is made, so this class includes no Gui or
// Widgets header.
//
// The implementation is split by concern: AppModel.cpp (state, start-up, status texts, context
// providers and the transport listener), AppModelSettings.cpp, and one file per later concern. The service keys
// are an object of their own, `ServiceKeys`; the model acts on the meeting when they change.
class AppModel final : public QObject {
    Q_OBJECT

public:
    using OptionalText = std::optional<QString>;
    using Measure = std::function<double(QStringView)>;

    // Meeting state.
    Q_PROPERTY(bool meetingActive READ meetingActive NOTIFY meetingActiveChanged)
    Q_PROPERTY(bool running READ running NOTIFY runningChanged)
    Q_PROPERTY(Engine::Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(QString partial READ partial NOTIFY partialChanged)
    Q_PROPERTY(QList<CaptionLine> lines READ lines NOTIFY linesChanged)
    Q_PROPERTY(QList<CaptionRow> rows READ rows NOTIFY rowsChanged)
    Q_PROPERTY(QString liveEnglish READ liveEnglish NOTIFY liveEnglishChanged)
    Q_PROPERTY(bool liveInline READ liveInline NOTIFY liveInlineChanged)
    Q_PROPERTY(double billedSeconds READ billedSeconds NOTIFY billedSecondsChanged)
    Q_PROPERTY(OptionalText notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(OptionalText lastTranslation READ lastTranslation NOTIFY lastTranslationChanged)
    Q_PROPERTY(OptionalText transcriptProblem READ transcriptProblem NOTIFY transcriptProblemChanged)
    Q_PROPERTY(QSet<int> backfillPending READ backfillPending NOTIFY backfillPendingChanged)
    Q_PROPERTY(int turnCount READ turnCount NOTIFY turnCountChanged)
    Q_PROPERTY(OptionalText translationRouteNote READ translationRouteNote NOTIFY translationRouteNoteChanged)
    Q_PROPERTY(OptionalText translationTrouble READ translationTrouble NOTIFY translationTroubleChanged)
    Q_PROPERTY(OptionalText recognitionTrouble READ recognitionTrouble NOTIFY recognitionTroubleChanged)
    Q_PROPERTY(QString recap READ recap NOTIFY recapChanged)
    Q_PROPERTY(OptionalText proofreadStatus READ proofreadStatus NOTIFY proofreadStatusChanged)
    Q_PROPERTY(OptionalText researchStatus READ researchStatus NOTIFY researchStatusChanged)
    Q_PROPERTY(OptionalText diagnosticsStatus READ diagnosticsStatus NOTIFY diagnosticsStatusChanged)
    Q_PROPERTY(QList<SessionNote> notes READ notes NOTIFY notesChanged)
    Q_PROPERTY(ResearchResult research READ research NOTIFY researchChanged)
    // Computed for the views; they notify when an input changes.
    Q_PROPERTY(OptionalText statusNote READ statusNote NOTIFY statusNoteChanged)
    Q_PROPERTY(OptionalText backfillNote READ backfillNote NOTIFY backfillNoteChanged)

    // Settings mirrored in the model and stored in the user defaults.
    Q_PROPERTY(bool keepAwake READ keepAwake WRITE setKeepAwakeSetting NOTIFY keepAwakeChanged)
    Q_PROPERTY(CaptionAppearance appearance READ appearance WRITE setAppearance NOTIFY appearanceChanged)
    Q_PROPERTY(bool diarize READ diarize WRITE setDiarize NOTIFY diarizeChanged)
    Q_PROPERTY(bool listenEnglishOnly READ listenEnglishOnly WRITE setListenEnglishOnly NOTIFY listenEnglishOnlyChanged)
    Q_PROPERTY(CaptionParts captionParts READ captionParts WRITE setCaptionParts NOTIFY captionPartsChanged)
    Q_PROPERTY(DisplayMode mode READ mode WRITE setMode NOTIFY modeChanged)
    Q_PROPERTY(bool hideFromSharing READ hideFromSharing WRITE setHideFromSharing NOTIFY hideFromSharingChanged)
    Q_PROPERTY(AudioSource audioSource READ audioSource WRITE setAudioSource NOTIFY audioSourceChanged)
    Q_PROPERTY(int autoPauseMinutes READ autoPauseMinutes WRITE setAutoPauseMinutes NOTIFY autoPauseMinutesChanged)
    Q_PROPERTY(bool proofreadAfterMeeting READ proofreadAfterMeeting WRITE setProofreadAfterMeeting NOTIFY proofreadAfterMeetingChanged)
    Q_PROPERTY(bool researchEnabled READ researchEnabled WRITE setResearchEnabled NOTIFY researchEnabledChanged)
    Q_PROPERTY(bool researchWebSearch READ researchWebSearch WRITE setResearchWebSearch NOTIFY researchWebSearchChanged)
    Q_PROPERTY(bool readBrowserPage READ readBrowserPage WRITE setReadBrowserPage NOTIFY readBrowserPageChanged)
    Q_PROPERTY(bool diagnosticsEnabled READ diagnosticsEnabled WRITE setDiagnosticsEnabled NOTIFY diagnosticsEnabledChanged)
    Q_PROPERTY(bool chatWebSearch READ chatWebSearch WRITE setChatWebSearch NOTIFY chatWebSearchChanged)
    Q_PROPERTY(bool openRecordsAfterMeeting READ openRecordsAfterMeeting WRITE setOpenRecordsAfterMeeting NOTIFY openRecordsAfterMeetingChanged)

    // Caption panel flags, never stored.
    Q_PROPERTY(bool panelVisible READ panelVisible WRITE setPanelVisible NOTIFY panelVisibleChanged)
    Q_PROPERTY(bool maximized READ maximized WRITE setMaximized NOTIFY maximizedChanged)
    Q_PROPERTY(bool expanded READ expanded WRITE setExpanded NOTIFY expandedChanged)
    Q_PROPERTY(bool hovering READ hovering WRITE setHovering NOTIFY hoveringChanged)

public:
    // When a new model reads the stored keys: before its constructor returns, or only when
    // keys().readStoredKeys() is called.
    using KeyReading = ServiceKeys::KeyReading;

    // The platform services the model calls, handed in once when it is made: the application's
    // delegate builds the desktop's, a test its fakes, so two models never share them. Each
    // default works without a desktop. An asynchronous hook calls its completion once, on the
    // main thread.
    // The model's main-thread delays, in seconds: the product's own unless a test hands in
    // shorter ones.
    struct Timings {
        double tickInterval = 0.25;         // the panel's and the pipeline's tick
        double deltaFlushDelay = 0.1;       // streamed translation pieces gathered before a redraw
        double saveDelay = 1.0;             // changes gathered into one record save
        double keySwitchNoticeDelay = 15.0; // how long a key switch's notice stays
        double settlePollInterval = 0.5;    // between checks that the last lines have settled
        int settlePolls = 30;               // checks before the meeting's end goes on without
    };

    struct Platform {
        std::function<void(const QUrl &, std::function<void(const OptionalText &)>)> fetchPage =
            [](const QUrl &, std::function<void(const OptionalText &)> done) { done(std::nullopt); };
        std::function<void(std::function<void(bool)>)> requestMicrophone =
            [](std::function<void(bool)> done) { done(true); };
        std::function<void(bool)> setKeepAwake = [](bool) {};
        ServiceKeys::CheckKey checkKey = [](KeyProvider, const QString &,
                                            std::function<void(const KeyStatus &)> done) { done(KeyStatus::ok()); };
        ServiceKeys::FetchBalance fetchBalance = [](KeyProvider, const QString &,
                                                    std::function<void(const std::optional<BalanceInfo> &)> done) {
            done(std::nullopt);
        };
        std::function<void(std::function<void(const std::optional<QUrl> &)>)> currentBrowserPage =
            [](std::function<void(const std::optional<QUrl> &)> done) { done(std::nullopt); };
        // Every open tab of the known browsers.
        std::function<void(std::function<void(const QList<BrowserTabs::Tab> &)>)> browserTabs =
            [](std::function<void(const QList<BrowserTabs::Tab> &)> done) { done({}); };
        std::function<bool(const QString &)> isDictionaryWord = [](const QString &) { return true; };
        std::function<void(const QString &)> revealFile = [](const QString &) {};
        // Font size in, width function out; the application's measures real glyphs.
        std::function<Measure(double fontSize)> measurer = &AppModel::estimatedMeasure;
        std::function<void()> showSettings = [] {};
        std::function<void(const QString &)> openFolder = [](const QString &) {};
        // Where the meeting records go: "泰萨利字幕记录" in the Documents folder; tests use a
        // temporary folder. Read once, when the model is made.
        std::function<QString()> recordsFolder = [] { return TranscriptWriter::defaultDirectory(); };
        // The wall clock, for line times and "HH:mm:ss"; uptime comes from Clock::uptime().
        std::function<QDateTime()> wallClock = [] { return QDateTime::currentDateTime(); };
        Timings timings;
    };

    // The services as handed in; the views call the ones a user asks for (the settings).
    const Platform &platform() const { return m_platform; }
    // What the model hears of the service calls made for it: requests and tokens counted into
    // the meeting's statistics, the last outcome shown. The model hands it to every call it
    // makes; the importer's translations, made for the meeting too, carry it as well.
    const DeepSeekTransport::Listener &transportListener() const { return m_transport; }

    explicit AppModel(Platform platform, KeyReading keys = KeyReading::atOnce, QObject *parent = nullptr);
    ~AppModel() override;

    // The application's model. It reads its keys on request: the launch asks once the tray icon
    // is up, as the keyring's first answer is slow and asking it meanwhile slows the launch.
    // The delegate makes it with the desktop's services before anything asks for it; asked for
    // first, it is made with the defaults.
    static AppModel *makeShared(Platform platform);
    static AppModel *shared();

    // A width estimate without fonts: CJK and full-width characters are one em, others 0.55.
    static Measure estimatedMeasure(double fontSize);


    static const QList<int> &autoPauseChoices();
    static const QString microphoneDeniedText;

    // ---- Published state. ----
    bool meetingActive() const { return m_meetingActive; }
    bool running() const { return m_running; }
    Engine::Phase phase() const { return m_phase; }
    const QString &partial() const { return m_partial; }
    const QList<CaptionLine> &lines() const { return m_lines; }
    const QList<CaptionRow> &rows() const { return m_rows; }
    const QString &liveEnglish() const { return m_liveEnglish; }
    bool liveInline() const { return m_liveInline; }
    double billedSeconds() const { return m_billedSeconds; }
    const OptionalText &notice() const { return m_notice; }
    const OptionalText &lastTranslation() const { return m_lastTranslation; }
    const OptionalText &transcriptProblem() const { return m_transcriptProblem; }
    const QSet<int> &backfillPending() const { return m_backfillPending; }
    int turnCount() const { return m_turnCount; }
    const OptionalText &translationRouteNote() const { return m_translationRouteNote; }
    const OptionalText &translationTrouble() const { return m_translationTrouble; }
    const OptionalText &recognitionTrouble() const { return m_recognitionTrouble; }
    const QString &recap() const { return m_recap; }
    const OptionalText &proofreadStatus() const { return m_proofreadStatus; }
    const OptionalText &researchStatus() const { return m_researchStatus; }
    const OptionalText &diagnosticsStatus() const { return m_diagnosticsStatus; }
    const QList<SessionNote> &notes() const { return m_notes; }
    const ResearchResult &research() const { return m_research; }

    // The status line: while listening the first trouble that is set; otherwise the notice,
    // "已暂停" while a meeting is open, "会议已结束" once there are lines.
    OptionalText statusNote() const;
    OptionalText backfillNote() const;

    // ---- Settings (each setter stores, writes its key, then acts). ----
    bool keepAwake() const { return m_keepAwake; }
    void setKeepAwakeSetting(bool on);
    const CaptionAppearance &appearance() const { return m_appearance; }
    void setAppearance(const CaptionAppearance &look);
    bool diarize() const { return m_diarize; }
    void setDiarize(bool on);
    bool listenEnglishOnly() const { return m_listenEnglishOnly; }
    void setListenEnglishOnly(bool on);
    const CaptionParts &captionParts() const { return m_captionParts; }
    void setCaptionParts(const CaptionParts &parts);
    DisplayMode mode() const { return m_mode; }
    void setMode(DisplayMode mode);
    bool hideFromSharing() const { return m_hideFromSharing; }
    void setHideFromSharing(bool on);
    AudioSource audioSource() const { return m_audioSource; }
    void setAudioSource(AudioSource source);
    int autoPauseMinutes() const { return m_autoPauseMinutes; }
    void setAutoPauseMinutes(int minutes);
    bool proofreadAfterMeeting() const { return m_proofreadAfterMeeting; }
    void setProofreadAfterMeeting(bool on);
    bool researchEnabled() const { return m_researchEnabled; }
    void setResearchEnabled(bool on);
    bool researchWebSearch() const { return m_researchWebSearch; }
    void setResearchWebSearch(bool on);
    bool readBrowserPage() const { return m_readBrowserPage; }
    void setReadBrowserPage(bool on);
    bool diagnosticsEnabled() const { return m_diagnosticsEnabled; }
    void setDiagnosticsEnabled(bool on);
    bool chatWebSearch() const { return m_chatWebSearch; }
    void setChatWebSearch(bool on);
    bool openRecordsAfterMeeting() const { return m_openRecordsAfterMeeting; }
    void setOpenRecordsAfterMeeting(bool on);

    bool panelVisible() const { return m_panelVisible; }
    void setPanelVisible(bool on);
    bool maximized() const { return m_maximized; }
    void setMaximized(bool on);
    bool expanded() const { return m_expanded; }
    void setExpanded(bool on);
    bool hovering() const { return m_hovering; }
    void setHovering(bool on);

    // Written by the caption panel controller, which then calls relayout().
    double panelWidth = 680;

    // Edits a copy of the look; a change of colour, opacity, font or outline makes it custom.
    void customize(const std::function<void(CaptionAppearance &)> &change);
    // A preset's look with the current sizes.
    void applySkin(const CaptionSkin &skin);
    // Re-breaks the live rows for the panel width and the Chinese size.
    void relayout();
    // The row width the last relayout used.
    double rowWidth() const { return m_rowWidth; }
    const Measure &rowMeasure() const { return m_rowMeasure; }
    void microphoneDenied();

    // ---- Service keys: the list, the flags, checks, quotas and balances. ----
    ServiceKeys &keys() { return m_keys; }
    const ServiceKeys &keys() const { return m_keys; }

    // ---- Translation status texts. ----
    void noteTranslationResult(TranslationService service, const OptionalText &failure);

    // ---- Meeting background and diagnostics. ----
    // The notes' background joined with what research found; computed on every read.
    SessionBackground background() const;
    void log(const QString &kind, const QMap<QString, QString> &fields = {});
    const DiagnosticLog &diag() const { return m_meeting.diag; }
    const SessionStats &stats() const { return m_meeting.stats; }

    // ---- Rows and record saves. ----
    // Rebuilds `rows` from the live layout, previewing live English on a copy.
    void publishRows();
    // One save about a second after the first change; later changes ride along.
    void scheduleSave();
    bool savePending() const { return m_saveTimer != nullptr; }
    // Writes the finished lines (and the background log) through the writer; cancels a
    // pending timed save.
    void saveTranscript(bool synchronously);
    // The one form of a caption line in the record, the chat's and the diagnostics' text.
    TranscriptWriter::Entry recordEntry(const CaptionLine &line) const;
    // The same with the traditional-script conversion given (none: the script stays), for
    // entries made off the main thread.
    static TranscriptWriter::Entry recordEntry(const CaptionLine &line,
                                               const std::function<QString(const QString &)> &traditional);
    // Whether a line goes into the record.
    static bool inRecord(const CaptionLine &line) { return line.finished && !line.merged && !line.english.isEmpty(); }
    // The record's entries as the lines and the background log are now, made when called, on
    // any thread: it holds implicitly shared copies, which cost the main thread nothing.
    TranscriptWriter::EntryMaker recordMaker() const;
    static const QString saveFailedText;
    const CaptionLayout &layout() const { return m_layout; }

    // ---- Recognition events (on the main thread). ----
    void handlePartial(const QString &text, const std::optional<CaptionPipeline::SpeakerLabels> &speakers);
    void handleCommitted(const QString &text);
    void handleStopped(const std::optional<QString> &reason);
    // A one-shot action run by the next stop report instead of a key switch.
    void setAfterStop(std::function<void()> action) { m_afterStop = std::move(action); }
    // Starts listening, beginning a meeting when none is open.
    void startOrResume();

    // ---- Translator handlers: streamed translations into caption lines. ----
    int begin(const QString &text, bool newTurn);
    void append(int id, const QString &piece);
    void finish(int id, bool success);
    void continueLine(int id, const QString &text);
    void corrected(int id, const QString &text);
    void backfillDone(int id, const std::optional<QString> &translation);
    void language(int id, SpeechLanguage language);
    void alternate(int id, const QString &text);
    void fatal(const QString &message);
    void latency(int id, double total, double translate);
    void flushDeltas();
    void flushEnglishBacklog();
    void refreshLiveEnglish();
    static QString joinEnglish(const QString &a, const QString &b);

    // ---- Re-asks, merges and revisions. ----
    void rechecked(int id, const QString &sent, const std::optional<QString> &translation,
                   const QString &alt);
    void refixed(int id, const QString &sent, const std::optional<QString> &translation,
                 const QString &alt);
    void merged(const QList<int> &ids, const QString &sent, const QString &source,
                const std::optional<QString> &translation,
                const QString &alt);
    void maybeMergeSentences(bool final);
    QString withoutRepeatedLead(const QString &text, int id, const QString &source);
    bool swallowsContext(const QString &text, int before) const;
    const QMap<int, QString> &smoothing() const { return m_meeting.smoothing; }
    const QSet<int> &shortRetried() const { return m_meeting.shortRetried; }

    // ---- Caption units from the pipeline. ----
    void apply(const QList<CaptionPipeline::Output> &outputs);
    SpeechLanguage unitLanguage(const QString &text);
    void appendEnglish(const QString &text);
    void appendEnglishPiece(const QString &text);
    void closeEnglishLine();
    // Name corrections and suspect terms; the research concern fills them in.
    QString fixSoundAlikes(const QString &text);
    void noteSuspects(const QString &text, SpeechLanguage language);
    void markFixed(int id);
    CaptionPipeline &pipeline() { return *m_pipeline; }
    double lastSpeechChange() const { return m_lastSpeechChange; }

    // Record operations of the lifecycle (AppModelRecord.cpp).
    void finalizeRecord();
    void openTranscripts();

    // The meeting's lifecycle (AppModelLifecycle.cpp).
    void toggle();
    void endMeeting();
    void newMeeting();
    void prepareForQuit();
    void quitOnce();
    // Sleep, screen lock, shutdown and logout over D-Bus; `shared()` starts it for the
    // application, tests on their private bus.
    void watchSession();
    SessionEvents *sessionEvents() const { return m_session; }
    void minimize();
    void adjustFontSize(double delta);

    // Corrections of heard names (AppModelCorrections.cpp).
    QStringList soundAlikeTargets() const;

    // Research, notes, the browser page, diagnostics and chat (AppModelResearch.cpp,
    // AppModelNotes.cpp, AppModelBrowser.cpp, AppModelDiagnostics.cpp, AppModelChat.cpp).
    void maybeResearch();
    void maybeQuickResearch();
    void maybeMatchBrowserTab();
    void absorbResearch(const ResearchResult &result, bool webSearch, const QString &label);
    void logBackground(const QString &text);
    void fixShownLines();
    void submitNote(const QString &text, bool automatic);
    void deleteNote(int id);
    void readCurrentPage();
    QString meetingRecordText() const;
    void revealDiagnostics();

    // Post-meeting proofreading (AppModelProofread.cpp).
    struct EndedMeeting;
    struct ProofreadRun;
    static const QString proofreadLocalReason;

    // ---- Notes, chat, research and browser pages while a meeting runs (AppModelNotes.cpp,
    // AppModelChat.cpp, AppModelResearch.cpp, AppModelCorrections.cpp, AppModelBrowser.cpp). ----
    Q_PROPERTY(QList<ChatMessage> chatMessages READ chatMessages NOTIFY chatChanged)
    Q_PROPERTY(bool chatBusy READ chatBusy NOTIFY chatChanged)
    Q_PROPERTY(bool canChat READ canChat NOTIFY canChatChanged)

    // Completes a note: what its extraction found, or nothing, and its status line.
    void finishNote(int id, const std::optional<SessionBackground> &found, const OptionalText &status);

    const QList<ChatMessage> &chatMessages() const;
    bool chatBusy() const;
    int nextChatID() const;
    bool canChat() const;
    void askMeeting(const QString &question);
    // The chat view's clear button; nothing while an answer is outstanding.
    void clearChat();

    // What the diagnostics report of an ended meeting reads; taken when the meeting ends.
    struct DiagnosticsSnapshot {
        DiagnosticLog log;                   // unpacked on the writer's queue
        QList<DiagnosticEvent> laterEvents;  // what the work after the meeting adds

        QMap<int, double> latency;
        QStringList researchNames;
        QStringList noteNames;
        QStringList notes;
        Diagnostics::Pairs stats;
        Diagnostics::Pairs settings;
        double minutes = 0;
        // Makes the record's entries on the writer's queue, for the excerpt the review reads.
        TranscriptWriter::EntryMaker recordEntries;
    };
    DiagnosticsSnapshot diagnosticsSnapshot() const;
    // Made and written on the writer's queue from the meeting's lines (those of the record
    // are kept) and, after proofreading, what it changed, indexed by kept line.
    void writeDiagnostics(const QString &file, const DiagnosticsSnapshot &snapshot,
                          const QList<CaptionLine> &lines,
                          const std::optional<QList<Proofread::Line>> &original,
                          const std::optional<QList<Proofread::Line>> &fixed,
                          const QMap<int, QString> &notes);
    // The files are written (or not): the status, and the review the service is asked for.
    void diagnosticsWritten(bool written, const Diagnostics::Context &context,
                            const QList<Diagnostics::Finding> &findings, const std::optional<QString> &key,
                            const QString &user);
    // The system message of the report's analysis request.
    static QString analysisPrompt();

    Engine &engine() { return *m_engine; }
    Translator &translator() { return *m_translator; }
    TranscriptWriter &transcript() { return *m_transcript; }

signals:
    void meetingActiveChanged();
    void runningChanged();
    void phaseChanged();
    void partialChanged();
    void linesChanged();
    void rowsChanged();
    void liveEnglishChanged();
    void liveInlineChanged();
    void billedSecondsChanged();
    void noticeChanged();
    void lastTranslationChanged();
    void transcriptProblemChanged();
    void backfillPendingChanged();
    void turnCountChanged();
    void translationRouteNoteChanged();
    void translationTroubleChanged();
    void recognitionTroubleChanged();
    void recapChanged();
    void proofreadStatusChanged();
    void researchStatusChanged();
    void diagnosticsStatusChanged();
    void notesChanged();
    void researchChanged();
    void statusNoteChanged();
    void backfillNoteChanged();

    void keepAwakeChanged();
    void appearanceChanged();
    void diarizeChanged();
    void listenEnglishOnlyChanged();
    void captionPartsChanged();
    void modeChanged();
    void hideFromSharingChanged();
    void audioSourceChanged();
    void autoPauseMinutesChanged();
    void proofreadAfterMeetingChanged();
    void researchEnabledChanged();
    void researchWebSearchChanged();
    void readBrowserPageChanged();
    void diagnosticsEnabledChanged();
    void chatWebSearchChanged();
    void openRecordsAfterMeetingChanged();

    void panelVisibleChanged();
    void maximizedChanged();
    void expandedChanged();
    void hoveringChanged();

    void chatChanged();
    void canChatChanged();

private:
    friend class ModelRig;

    // The lifecycle's steps (AppModelLifecycle.cpp, AppModelRecap.cpp, AppModelProofread.cpp).
    void handleTick();
    void beginMeeting();
    void maybeUpdateRecap();
    void proofreadWhenSettled();
    void afterSettled(const std::shared_ptr<EndedMeeting> &meeting);
    void handEndedLines();
    void startProofread(const std::shared_ptr<EndedMeeting> &meeting, const QList<CaptionLine> &lines);
    // The local name corrections of the kept lines, a slice per turn of the event loop, then
    // the chunks for the language model.
    void correctProofreadLines(const std::shared_ptr<ProofreadRun> &run);
    static constexpr qsizetype proofreadSliceLines = 250;
    void proofreadChunk(const std::shared_ptr<ProofreadRun> &run);
    // Makes and writes the proofread copy on the writer's queue; then, back on the main
    // thread, the status and the diagnostics.
    void finishProofread(const std::shared_ptr<ProofreadRun> &run);
    void proofreadCopied(const std::shared_ptr<ProofreadRun> &run, const QString &changed,
                         const std::optional<QString> &copy);
    void setProofreadStatus(const OptionalText &text);
    // A finished line of a unit heard but never translated (queued at the end, or at quit).
    CaptionLine untranslatedLine(const QString &source) const;

    // Start-up, in order.
    void loadSettings();
    void installEngineCallbacks();
    void installEngineRecognitionCallbacks();
    void installContextProviders();
    void makeTransportListener();
    void installTranslatorHandlers();

    // Caption-flow helpers.
    void scheduleDeltaFlush();
    void feedLayout(const QString &text);
    void startReasks(int id, bool success);
    void checkNumbers(int id);
    // The sources of the up to two lines before a line, merged ones left out unless asked.
    QStringList contextBefore(int id, bool withoutMerged = true) const;
    SpeechLanguage lineLanguage(const CaptionLine &line) const;
    void setPartialText(const QString &text);
    void setLiveEnglish(const QString &text);
    void setLiveInline(bool on);
    void setTurnCount(int count);
    void setTranscriptProblem(const OptionalText &text);
    void linesEdited();

    // Settings helpers.
    static CaptionAppearance loadAppearance();
    void writeFlag(const QString &key, bool value);

    // Publishing helpers: every write notifies; `changed` only when the value differs.
    template <typename T>
    void publish(T &field, const T &value, void (AppModel::*signal)())
    {
        field = value;
        emit(this->*signal)();
    }
    template <typename T>
    void publishChanged(T &field, const T &value, void (AppModel::*signal)())
    {
        if (field == value)
            return;
        field = value;
        emit(this->*signal)();
    }

public:
    // State writers for the caption flow and the lifecycle (and tests); each notifies, and the
    // computed texts follow.
    void setRunningState(bool on);
    void setMeetingActiveState(bool on);
    void setNotice(const OptionalText &text);
    void setRecognitionTrouble(const OptionalText &text);
    void setTranslationTrouble(const OptionalText &text);
    void setTranslationRouteNote(const OptionalText &text);
    void setBackfillPending(const QSet<int> &pending);
    void setRecap(const QString &text);
    void setNotes(const QList<SessionNote> &notes);
    void setResearch(const ResearchResult &result);
    void setStatsForTest(const SessionStats &stats) { m_meeting.stats = stats; }

private:
    // Meeting state.
    bool m_meetingActive = false;
    bool m_running = false;
    Engine::Phase m_phase = Engine::Phase::stopped;
    QString m_partial;
    QList<CaptionLine> m_lines;
    QList<CaptionRow> m_rows;
    QString m_liveEnglish;
    bool m_liveInline = false;
    double m_billedSeconds = 0;
    OptionalText m_notice;
    OptionalText m_lastTranslation;
    OptionalText m_transcriptProblem;
    QSet<int> m_backfillPending;
    int m_turnCount = 0;
    OptionalText m_translationRouteNote;
    OptionalText m_translationTrouble;
    OptionalText m_recognitionTrouble;

    // Settings.
    bool m_keepAwake = true;
    CaptionAppearance m_appearance;
    bool m_diarize = true;
    bool m_listenEnglishOnly = false;
    CaptionParts m_captionParts;
    DisplayMode m_mode = DisplayMode::both;
    bool m_hideFromSharing = true;
    AudioSource m_audioSource = AudioSource::system;
    int m_autoPauseMinutes = 10;
    bool m_proofreadAfterMeeting = true;
    bool m_researchEnabled = true;
    bool m_researchWebSearch = true;
    bool m_readBrowserPage = true;
    bool m_diagnosticsEnabled = true;
    bool m_chatWebSearch = true;
    bool m_openRecordsAfterMeeting = true;

    bool m_panelVisible = true;
    bool m_maximized = false;
    bool m_expanded = true;
    bool m_hovering = false;

    // Components.
    std::unique_ptr<Engine> m_engine;
    std::unique_ptr<Translator> m_translator;
    std::unique_ptr<TranscriptWriter> m_transcript;
    std::unique_ptr<CaptionPipeline> m_pipeline;
    double m_rowWidth = 600;
    Measure m_rowMeasure = [](QStringView) { return 0.0; };
    Platform m_platform;
    DeepSeekTransport::Listener m_transport;
    // Made from the platform's key checks above, so declared after them.
    ServiceKeys m_keys;

    // What lives for one meeting, started afresh by beginMeeting().
    MeetingState m_meeting;

    // Caption flow.
    CaptionLayout m_layout;
    QTimer *m_deltaTimer = nullptr;
    bool m_deltaFlushScheduled = false;
    QString m_lastSubmitted;
    QTimer *m_holdTimer = nullptr;
    QTimer *m_saveTimer = nullptr;
    bool m_microphoneChecked = false;
    double m_lastSpeechChange = 0;
    std::function<void()> m_afterStop;
    QSet<int> m_joinPending;
    QSet<int> m_altJoinPending;
    double m_lastSubmittedAt = -1000;
    double m_lastOtherLanguageAt = -1000;
    int m_meetingSerial = 0;
    int m_nextNoteID = 1;
    std::optional<int> m_notesMeeting;
    bool m_resumeOnRestore = false;

    // Notes, recap, research, diagnostics, chat and tabs.
    QString m_recap;
    // Meetings whose post-meeting work waits for their last translations.
    QList<std::shared_ptr<EndedMeeting>> m_endedMeetings;
    bool m_quitHandled = false;
    SessionEvents *m_session = nullptr;
    // The machine is about to sleep or shut down: the stop's record goes to disk before the
    // inhibitor lets it.
    bool m_saveBeforeSleep = false;
    OptionalText m_proofreadStatus;
    OptionalText m_researchStatus;
    OptionalText m_diagnosticsStatus;
    QList<SessionNote> m_notes;
    ResearchResult m_research;
    // Set once the service refused the web-search tool; research, quick checks and the chat then
    // go without it for the rest of the run.
    bool m_webSearchRejected = false;

    // Notes, chat, research calls and the corrections of heard names.
    void installChat();
    void refreshKeyterms();
    void startNoteExtraction(int id, const QString &text, const QString &key);
    void saveChat();
    NameFix::Result correctText(const QString &text, const SessionBackground &known,
                                const QStringList &targets) const;
    // A research or quick-check request of this meeting: the handler runs only for a reply
    // that is not cancelled and still belongs to the meeting that asked; the service's refusal
    // of the web-search tool is noted in every case.
    ResearchCall startResearchCall(const Research::Prompt &prompt, bool webSearch, const QString &key,
                                   std::function<void(const ResearchCall::Report &)> handle);
    QString notesText() const;
    std::unique_ptr<ChatSession> m_chat;
    ResearchCall m_researchCall;
    ResearchCall m_quickCall;
};

Q_DECLARE_METATYPE(CaptionLine)
Q_DECLARE_METATYPE(ChatMessage)
Q_DECLARE_METATYPE(CaptionRow)
Q_DECLARE_METATYPE(CaptionAppearance)
Q_DECLARE_METATYPE(CaptionParts)
