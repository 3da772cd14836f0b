#include "TestMain.h"

#include "common/UserDefaults.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "speech/Segmenter.h"

#include <QSignalSpy>
#include <QTest>

namespace {

QString colour(const RGBA &c)
{
    return QStringLiteral("%1,%2,%3,%4").arg(c.r).arg(c.g).arg(c.b).arg(c.a);
}

// One setting of a model as text, so a table row can name what it expects.
QString describe(const AppModel &m, const QString &name)
{
    const auto flag = [](bool b) { return b ? QStringLiteral("on") : QStringLiteral("off"); };
    const CaptionAppearance &a = m.appearance();
    const CaptionParts &p = m.captionParts();
    if (name == "sizes")
        return QStringLiteral("%1/%2").arg(a.chineseSize).arg(a.englishSize);
    if (name == "skin")
        return a.skin.value_or(QStringLiteral("<none>"));
    if (name == "background")
        return colour(a.background);
    if (name == "chineseColor")
        return colour(a.chineseColor);
    if (name == "fonts")
        return a.chineseFont + u'|' + a.englishFont + u'|' + flag(a.outline);
    if (name == "parts") {
        QString out;
        for (bool b : {p.chinese, p.english, p.original, p.traditional, p.olderEnglish})
            out += b ? u'1' : u'0';
        return out;
    }
    if (name == "audioSource")
        return audioSourceToString(m.audioSource());
    if (name == "autoPause")
        return QString::number(m.autoPauseMinutes());
    if (name == "mode")
        return DisplayModes::toString(m.mode());
    if (name == "diarize")
        return flag(m.diarize());
    if (name == "keepAwake")
        return flag(m.keepAwake());
    if (name == "proofread")
        return flag(m.proofreadAfterMeeting());
    if (name == "hide")
        return flag(m.hideFromSharing());
    if (name == "research")
        return flag(m.researchEnabled());
    if (name == "webSearch")
        return flag(m.researchWebSearch());
    if (name == "browserPage")
        return flag(m.readBrowserPage());
    if (name == "diagnostics")
        return flag(m.diagnosticsEnabled());
    if (name == "chatWebSearch")
        return flag(m.chatWebSearch());
    if (name == "openRecords")
        return flag(m.openRecordsAfterMeeting());
    if (name == "englishOnly")
        return flag(m.listenEnglishOnly());
    return QStringLiteral("<unknown property>");
}

const char *appearanceJson(const char *sizes, const char *tail)
{
    static QByteArray buffer;
    buffer = QByteArray("captionAppearance=\"{") + sizes
        + ",\\\"chineseFont\\\":\\\"Kaiti SC\\\",\\\"englishFont\\\":\\\"Georgia\\\","
          "\\\"chineseColor\\\":{\\\"r\\\":2,\\\"g\\\":0.5,\\\"b\\\":-1,\\\"a\\\":1},"
          "\\\"englishColor\\\":{\\\"r\\\":0,\\\"g\\\":0,\\\"b\\\":0,\\\"a\\\":1},"
          "\\\"background\\\":{\\\"r\\\":0,\\\"g\\\":0,\\\"b\\\":0,\\\"a\\\":0.5}"
        + tail + "}\"";
    return buffer.constData();
}

} // namespace

// The model's settings: what a launch reads from a settings file (absent, well typed or
// hand-edited), what each setter writes and when it acts, and the caption look's operations.
class AppModelSettingsTest final : public QObject {
    Q_OBJECT

private slots:
    void launchReads_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QString>("expected");

        // A first launch.
        QTest::newRow("first: sizes") << "" << "sizes" << "26/17";
        QTest::newRow("first: skin") << "" << "skin" << "tech";
        QTest::newRow("first: fonts") << "" << "fonts" << "|Avenir Next|off";
        QTest::newRow("first: background") << "" << "background" << "0.04,0.1,0.22,0.9";
        QTest::newRow("first: mode") << "" << "mode" << "both";
        QTest::newRow("first: diarize") << "" << "diarize" << "on";
        QTest::newRow("first: keepAwake") << "" << "keepAwake" << "on";
        QTest::newRow("first: proofread") << "" << "proofread" << "on";
        QTest::newRow("first: hide") << "" << "hide" << "on";
        QTest::newRow("first: autoPause") << "" << "autoPause" << "10";
        QTest::newRow("first: audio") << "" << "audioSource" << "system";
        QTest::newRow("first: parts") << "" << "parts" << "11100";
        for (const char *name : {"research", "webSearch", "browserPage", "diagnostics",
                                 "chatWebSearch", "openRecords"})
            QTest::addRow("first: %s", name) << "" << name << "on";

        // Well typed, as the program writes them.
        QTest::newRow("diarize false") << "diarize=false" << "diarize" << "off";
        QTest::newRow("keepAwake false") << "keepAwake=false" << "keepAwake" << "off";
        QTest::newRow("research false") << "researchEnabled=false" << "research" << "off";
        QTest::newRow("openRecords false") << "openRecordsAfterMeeting=false" << "openRecords" << "off";
        QTest::newRow("autoPause 20") << "autoPauseMinutes=20" << "autoPause" << "20";
        QTest::newRow("autoPause never") << "autoPauseMinutes=0" << "autoPause" << "0";
        QTest::newRow("audio both") << "audioSource=both" << "audioSource" << "both";
        QTest::newRow("audio microphone") << "audioSource=microphone" << "audioSource" << "microphone";
        QTest::newRow("parts") << "captionParts=true, false, true, true" << "parts" << "10110";

        // Hand-edited or wrongly typed: not stored.
        QTest::newRow("researchEnabled=1") << "researchEnabled=1" << "research" << "on";
        QTest::newRow("researchEnabled=0") << "researchEnabled=0" << "research" << "on";
        QTest::newRow("diagnosticsEnabled=off") << "diagnosticsEnabled=off" << "diagnostics" << "on";
        QTest::newRow("diarize=yes") << "diarize=yes" << "diarize" << "on";
        QTest::newRow("keepAwake=no") << "keepAwake=no" << "keepAwake" << "on";
        QTest::newRow("autoPauseMinutes=abc") << "autoPauseMinutes=abc" << "autoPause" << "10";
        QTest::newRow("captionParts with a number") << "captionParts=true, 1, true" << "parts" << "11100";
        QTest::newRow("audioSource=Both") << "audioSource=Both" << "audioSource" << "system";

        // The fallback look from the old keys.
        QTest::newRow("fontSize=70") << "fontSize=70" << "sizes" << "60/39";
        QTest::newRow("fontSize=80") << "fontSize=80" << "sizes" << "60/39";
        QTest::newRow("fontSize=10") << "fontSize=10" << "sizes" << "12/12";
        QTest::newRow("fontSize=abc") << "fontSize=abc" << "sizes" << "26/17";
        QTest::newRow("opacity 0.78 skin") << "captionOpacity=0.78" << "skin" << "tech";
        QTest::newRow("opacity 0.785 skin") << "captionOpacity=0.785" << "skin" << "tech";
        QTest::newRow("opacity 0.785 alpha") << "captionOpacity=0.785" << "background" << "0.04,0.1,0.22,0.785";
        QTest::newRow("opacity 0.5 skin") << "captionOpacity=0.5" << "skin" << "<none>";
        QTest::newRow("opacity 0.5 alpha") << "captionOpacity=0.5" << "background" << "0.04,0.1,0.22,0.5";
        QTest::newRow("opacity abc") << "captionOpacity=abc" << "background" << "0.04,0.1,0.22,0.9";
        QTest::newRow("opacity 7 clamped") << "captionOpacity=7" << "background" << "0.04,0.1,0.22,1";

        // A stored look.
        QTest::newRow("look out of range: sizes")
            << appearanceJson("\\\"chineseSize\\\":0,\\\"englishSize\\\":1e9", ",\\\"outline\\\":true")
            << "sizes" << "12/60";
        QTest::newRow("look out of range: colour")
            << appearanceJson("\\\"chineseSize\\\":30,\\\"englishSize\\\":20", ",\\\"outline\\\":true")
            << "chineseColor" << "1,0.5,0,1";
        QTest::newRow("look: fonts kept as stored")
            << appearanceJson("\\\"chineseSize\\\":30,\\\"englishSize\\\":20", ",\\\"outline\\\":true")
            << "fonts" << "Kaiti SC|Georgia|on";
        QTest::newRow("look with a known skin")
            << appearanceJson("\\\"chineseSize\\\":30,\\\"englishSize\\\":20",
                              ",\\\"outline\\\":true,\\\"skin\\\":\\\"eyecare\\\"")
            << "skin" << "eyecare";
        QTest::newRow("look with an unknown skin")
            << appearanceJson("\\\"chineseSize\\\":30,\\\"englishSize\\\":20",
                              ",\\\"outline\\\":true,\\\"skin\\\":\\\"neon\\\"")
            << "skin" << "<none>";
        QTest::newRow("look without outline falls back")
            << appearanceJson("\\\"chineseSize\\\":30,\\\"englishSize\\\":20", "") << "sizes" << "26/17";
        QTest::newRow("look not JSON falls back")
            << "captionAppearance=oops" << "skin" << "tech";

        // Reset at every launch.
        QTest::newRow("displayMode english") << "displayMode=english" << "mode" << "both";
        QTest::newRow("listenEnglishOnly true") << "listenEnglishOnly=true" << "englishOnly" << "off";
    }
    void launchReads()
    {
        QFETCH(QString, file);
        QFETCH(QString, property);
        QFETCH(QString, expected);
        ModelRig rig;
        rig.settings.writeText(file);
        const AppModel &model = rig.make();
        QCOMPARE(describe(model, property), expected);
    }

    // Launching writes the two reset keys and nothing else; a look that does not decode stays
    // stored until the look changes.
    void launchWritesOnlyTheResets()
    {
        ModelRig rig;
        const QString edited = QStringLiteral(
            "captionAppearance=oops\ndisplayMode=english\nlistenEnglishOnly=true\ndiarize=yes\n"
            "autoPauseMinutes=abc\ncaptionParts=true, 1, true\naudioSource=Both\nresearchEnabled=1");
        rig.settings.writeText(edited);
        AppModel &model = rig.make();
        const QString after = rig.settings.readText();
        for (const char *kept : {"captionAppearance=oops", "diarize=yes", "autoPauseMinutes=abc",
                                 "captionParts=true, 1, true", "audioSource=Both", "researchEnabled=1"})
            QVERIFY2(after.contains(QLatin1String(kept)), kept);
        QVERIFY(after.contains(QStringLiteral("displayMode=both")));
        QVERIFY(after.contains(QStringLiteral("listenEnglishOnly=false")));
        QVERIFY(!after.contains(QStringLiteral("fontSize")));
        QVERIFY(!after.contains(QStringLiteral("interpreterMode")));
        QCOMPARE(UserDefaults::real(QStringLiteral("expandedHeight")), std::optional<double>(340.0));
        QCOMPARE(UserDefaults::flag(QStringLiteral("interpreterMode")), std::optional<bool>(true));

        model.customize([](CaptionAppearance &look) { look.englishSize = 20; });
        QVERIFY(!rig.settings.readText().contains(QStringLiteral("captionAppearance=oops")));
    }

    void processSwitches()
    {
        ModelRig rig;
        Segmenter::interpreterMode = false;
        rig.settings.writeText(QStringLiteral("captionParts=true, true, true, true"));
        ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-script"));
        AppModel &model = rig.make();
        QVERIFY(Segmenter::interpreterMode);
        // The captions are asked for in the script of the model's own setting.
        QVERIFY(rig.captionPrompt(QStringLiteral("Good morning.")).contains(QStringLiteral("繁体中文")));
        CaptionParts parts = model.captionParts();
        parts.traditional = false;
        model.setCaptionParts(parts);
        QVERIFY(rig.captionPrompt(QStringLiteral("See you tomorrow.")).contains(QStringLiteral("简体中文")));
    }

    // Every setting changed in one model is what the next launch reads.
    void roundTripIntoANewModel()
    {
        ModelRig rig;
        {
            AppModel &model = rig.make();
            model.setKeepAwakeSetting(false);
            model.setDiarize(false);
            model.setHideFromSharing(false);
            model.setAudioSource(AudioSource::microphone);
            model.setAutoPauseMinutes(30);
            model.setProofreadAfterMeeting(false);
            model.setResearchEnabled(false);
            model.setResearchWebSearch(false);
            model.setReadBrowserPage(false);
            model.setDiagnosticsEnabled(false);
            model.setChatWebSearch(false);
            model.setOpenRecordsAfterMeeting(false);
            model.setCaptionParts({true, false, false, true, true});
            model.applySkin(*CaptionSkin::named(QStringLiteral("cinema")));
            model.customize([](CaptionAppearance &look) { look.chineseSize = 40; });
            model.setListenEnglishOnly(true);
            model.setMode(DisplayMode::english);
        }
        const CaptionAppearance look = rig.model().appearance();
        AppModel &again = rig.make();
        for (const char *name : {"keepAwake", "diarize", "hide", "proofread", "research", "webSearch",
                                 "browserPage", "diagnostics", "chatWebSearch", "openRecords"})
            QCOMPARE(describe(again, name), QStringLiteral("off"));
        QCOMPARE(again.audioSource(), AudioSource::microphone);
        QCOMPARE(again.autoPauseMinutes(), 30);
        QCOMPARE(again.captionParts(), (CaptionParts {true, false, false, true, true}));
        QCOMPARE(again.appearance(), look);
        QCOMPARE(again.appearance().skin, std::optional<QString>(QStringLiteral("cinema")));
        QCOMPARE(again.appearance().chineseSize, 40.0);
        QVERIFY(!again.listenEnglishOnly());
        QCOMPARE(again.mode(), DisplayMode::both);
    }

    void captionPartsKeepOneLanguage()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QSignalSpy spy(&model, &AppModel::captionPartsChanged);
        model.setCaptionParts({false, false, true, false, true});
        QCOMPARE(model.captionParts(), (CaptionParts {true, false, true, false, true}));
        QCOMPARE(spy.count(), 2); // the assignment and the nested one
        QCOMPARE(UserDefaults::flags(QStringLiteral("captionParts")),
                 std::optional<QList<bool>>(QList<bool> {true, false, true, false, true}));
    }

    void customizeAndSkins()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        int measures = 0;
        rig.platform.measurer = [&measures](double size) {
            ++measures;
            return AppModel::estimatedMeasure(size);
        };
        QSignalSpy looks(&model, &AppModel::appearanceChanged);

        // Sizes keep the skin and only the Chinese size re-breaks the rows.
        model.customize([](CaptionAppearance &look) { look.englishSize = 22; });
        QCOMPARE(model.appearance().skin, std::optional<QString>(QStringLiteral("tech")));
        QCOMPARE(measures, 0);
        model.customize([](CaptionAppearance &look) { look.chineseSize = 30; });
        QCOMPARE(model.appearance().skin, std::optional<QString>(QStringLiteral("tech")));
        QCOMPARE(measures, 1);

        // Another opacity makes the look custom; going back to the skin's own does not undo it.
        model.customize([](CaptionAppearance &look) { look.background.a = 0.5; });
        QCOMPARE(model.appearance().skin, std::nullopt);
        model.customize([](CaptionAppearance &look) { look.background.a = 0.9; });
        QCOMPARE(model.appearance().skin, std::nullopt);

        // A skin keeps both sizes and does not re-break the rows.
        model.applySkin(*CaptionSkin::named(QStringLiteral("eyecare")));
        QCOMPARE(model.appearance().skin, std::optional<QString>(QStringLiteral("eyecare")));
        QCOMPARE(model.appearance().chineseSize, 30.0);
        QCOMPARE(model.appearance().englishSize, 22.0);
        QCOMPARE(model.appearance().chineseFont, QStringLiteral("Kaiti SC"));
        QCOMPARE(measures, 1);
        QCOMPARE(looks.count(), 5);

        // An identical look writes nothing and notifies nobody.
        const QString before = rig.settings.readText();
        model.setAppearance(model.appearance());
        model.customize([](CaptionAppearance &) {});
        QCOMPARE(looks.count(), 5);
        QCOMPARE(rig.settings.readText(), before);
    }

    void relayoutWidths_data()
    {
        QTest::addColumn<double>("panel");
        QTest::addColumn<double>("chineseSize");
        QTest::addColumn<double>("width");
        QTest::newRow("300 wide") << 300.0 << 26.0 << 238.0;
        QTest::newRow("150 wide") << 150.0 << 26.0 << 120.0;
        QTest::newRow("launch width") << 680.0 << 26.0 << 618.0;
    }
    void relayoutWidths()
    {
        QFETCH(double, panel);
        QFETCH(double, chineseSize);
        QFETCH(double, width);
        ModelRig rig;
        double measuredAt = 0;
        rig.platform.measurer = [&](double size) {
            measuredAt = size;
            return AppModel::estimatedMeasure(size);
        };
        AppModel &model = rig.make();
        model.panelWidth = panel;
        model.customize([&](CaptionAppearance &look) { look.chineseSize = chineseSize + 1; });
        model.customize([&](CaptionAppearance &look) { look.chineseSize = chineseSize; });
        QCOMPARE(model.rowWidth(), width);
        QCOMPARE(measuredAt, chineseSize);
    }

    void estimatedWidths()
    {
        const AppModel::Measure measure = AppModel::estimatedMeasure(20);
        QCOMPARE(measure(u"中文"), 40.0);
        QCOMPARE(measure(u"ab"), 22.0);
        QCOMPARE(measure(u"Ａ"), 20.0);   // full-width
        QCOMPARE(measure(u"é"), 11.0);    // one character of two code points
        QCOMPARE(measure(u""), 0.0);
    }

    // Each flag setter writes before it acts, also for the value the setting already has.
    void keepAwakeWritesThenActs()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QList<QPair<bool, std::optional<bool>>> calls; // (hook argument, stored value then)
        rig.platform.setKeepAwake = [&calls](bool on) {
            calls.append({on, UserDefaults::flag(QStringLiteral("keepAwake"))});
        };
        model.setKeepAwakeSetting(false);
        model.setKeepAwakeSetting(false);
        model.setRunningState(true);
        model.setKeepAwakeSetting(true);
        QCOMPARE(calls.size(), 3);
        QCOMPARE(calls[0], (QPair<bool, std::optional<bool>>(false, false)));
        QCOMPARE(calls[1], (QPair<bool, std::optional<bool>>(false, false)));
        QCOMPARE(calls[2], (QPair<bool, std::optional<bool>>(true, true)));
        model.setRunningState(false);
    }

    void audioSourceChanges_data()
    {
        QTest::addColumn<bool>("running");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<int>("granted"); // -1: the hook must not be asked
        QTest::addColumn<bool>("denied");
        QTest::newRow("paused") << false << "system" << "both" << -1 << false;
        QTest::newRow("same value listening") << true << "both" << "both" << -1 << false;
        QTest::newRow("to system listening") << true << "both" << "system" << -1 << false;
        QTest::newRow("to both granted") << true << "system" << "both" << 1 << false;
        QTest::newRow("to microphone refused") << true << "system" << "microphone" << 0 << true;
    }
    void audioSourceChanges()
    {
        QFETCH(bool, running);
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(int, granted);
        QFETCH(bool, denied);
        ModelRig rig;
        rig.settings.writeText(QStringLiteral("audioSource=") + from);
        AppModel &model = rig.make();
        int asked = 0;
        std::optional<QString> storedWhenAsked;
        rig.platform.requestMicrophone = [&](std::function<void(bool)> done) {
            ++asked;
            storedWhenAsked = UserDefaults::text(QStringLiteral("audioSource"));
            done(granted == 1);
        };
        model.setRunningState(running);
        model.setAudioSource(*audioSourceFromString(to));
        QCOMPARE(UserDefaults::text(QStringLiteral("audioSource")), std::optional<QString>(to));
        QCOMPARE(asked, granted < 0 ? 0 : 1);
        if (asked)
            QCOMPARE(storedWhenAsked, std::optional<QString>(to));
        QCOMPARE(model.notice(), denied ? std::optional<QString>(AppModel::microphoneDeniedText)
                                        : std::nullopt);
        QCOMPARE(model.audioSource(), *audioSourceFromString(to));
        model.setRunningState(false);
    }

    void microphoneNoticeWording()
    {
        QCOMPARE(AppModel::microphoneDeniedText,
                 QStringLiteral("泰萨利字幕没有麦克风权限。请到“系统设置 > 声音 > 输入”里打开，或把声音来源改回“系统声音”。"));
    }

    // Toggling a recognition setting while listening makes the engine open one new
    // connection, whose request follows the new value; while paused nothing happens to it.
    void recognitionSettingsReconnect_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::newRow("diarize") << "diarize";
        QTest::newRow("listenEnglishOnly") << "listenEnglishOnly";
    }
    void recognitionSettingsReconnect()
    {
        QFETCH(QString, setting);
        const bool diarize = setting == QLatin1String("diarize");
        ModelRig rig;
        AppModel &model = rig.make();
        const auto toggle = [&](bool on) {
            if (diarize)
                model.setDiarize(on);
            else
                model.setListenEnglishOnly(on);
        };
        // The query item each value gives: "diarize=true" while diarising, "language_code=en"
        // while listening to English only.
        const auto follows = [&](const FakeScribeServer::Connection &c, bool on) {
            return diarize ? c.has(QStringLiteral("diarize")) == on
                           : (c.values(QStringLiteral("language_code")) == QStringList {"en"}) == on;
        };
        const bool initially = diarize ? model.diarize() : model.listenEnglishOnly();
        QVERIFY(rig.startEngine());
        model.setRunningState(true);
        rig.connectEngineNow();
        QTRY_COMPARE_WITH_TIMEOUT(rig.scribe.connections().size(), 1, 20000);
        QVERIFY(follows(rig.scribe.connections()[0], initially));

        toggle(!initially);
        rig.engineTick();
        QVERIFY(!rig.engineConnected());
        rig.connectEngineNow();
        QTRY_COMPARE_WITH_TIMEOUT(rig.scribe.connections().size(), 2, 20000);
        QVERIFY(follows(rig.scribe.connections()[1], !initially));

        // Paused: the key is written, the open connection stays.
        model.setRunningState(false);
        toggle(initially);
        rig.engineTick();
        QVERIFY(rig.engineConnected());
        QCOMPARE(UserDefaults::flag(setting), std::optional<bool>(initially));
        QCOMPARE(rig.scribe.connections().size(), 2);
    }

    void sameValueStillWrites()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QSignalSpy spy(&model, &AppModel::diarizeChanged);
        UserDefaults::remove(QStringLiteral("diarize"));
        model.setDiarize(true);
        QCOMPARE(spy.count(), 1);
        QVERIFY(rig.settings.readText().contains(QStringLiteral("diarize=true")));
        model.setAutoPauseMinutes(10);
        QVERIFY(rig.settings.readText().contains(QStringLiteral("autoPauseMinutes=10")));
        QCOMPARE(AppModel::autoPauseChoices(), (QList<int> {5, 10, 20, 30, 60, 0}));
    }

    void backfillNote()
    {
        ModelRig rig;
        AppModel &model = rig.make();
        QSignalSpy spy(&model, &AppModel::backfillNoteChanged);
        QCOMPARE(model.backfillNote(), std::nullopt);
        model.setBackfillPending({4, 5, 9});
        QCOMPARE(model.backfillNote(), std::optional<QString>(QStringLiteral("正在补译前面 3 段英文，展开可查看")));
        QCOMPARE(spy.count(), 1);
    }
};

DODEDAROV_TEST(AppModelSettingsTest)
#include "AppModelSettingsTest.moc"
