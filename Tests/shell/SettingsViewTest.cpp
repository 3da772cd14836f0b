#include "TestMain.h"

#include "accounts/KeyCheck.h"
#include "common/UserDefaults.h"
#include "display/FloatingWindow.h"
#include "fakes/FakeAccountServer.h"
#include "fakes/ModelRig.h"
#include "platform/Keychain.h"
#include "shell/SettingsView.h"
#include "shell/SettingsWindowController.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTcpServer>
#include <QTest>
#include <QScopeGuard>
#include <QDateTime>
#include <QScrollBar>
#include <QWindow>
#include <QSpontaneKeyEvent>
#include <QWheelEvent>

#include <atomic>

namespace {

template <typename T>
T *byText(QWidget *root, const QString &text)
{
    for (T *widget : root->findChildren<T *>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

QLabel *named(QWidget *root, const QString &name)
{
    return root->findChild<QLabel *>(name);
}

QWidget *card(SettingsView *view, const QString &title)
{
    for (QWidget *section : view->findChildren<QWidget *>(QStringLiteral("section"))) {
        if (section->property("sectionTitle").toString() == title)
            return section;
    }
    return nullptr;
}

QColor textColor(const QWidget *label)
{
    return label->palette().color(QPalette::WindowText);
}

// The hooks of the key checks, counted and never answered.
struct Checks {
    int checks = 0;
    int balances = 0;
    explicit Checks(ModelRig &rig)
    {
        rig.platform.checkKey = [this](KeyProvider, const QString &, std::function<void(const KeyStatus &)>) { ++checks; };
        rig.platform.fetchBalance = [this](KeyProvider, const QString &,
                                        std::function<void(const std::optional<BalanceInfo> &)>) { ++balances; };
    }
};

}

// The settings window built from model states, on the offscreen platform.
class SettingsViewTest final : public QObject {
    Q_OBJECT

private slots:
    void cleanup();
    void windowTitleCardsAndSize();
    void showTwiceKeepsOneWindowAndTypedText();
    void showAsksAKeyringThatDidNotAnswer();
    void sectionSymbols();
    void keyRows_data();
    void keyRows();
    void keyButtonsTrimOnlyBlanks();
    void useKeySwitchesKeys();
    void keyStatusLines();
    void quotaLineEndsWithoutNetwork();
    void soundAndRecognition();
    void captionParts();
    void translationNotes();
    void hideFromSharingIsDisabled();
    void captionLook();
    void statsLines();
    void linuxWording_data();
    void linuxWording();
    void wheelScrollsPastControls_data();
    void wheelScrollsPastControls();
    void fontMenusListPlainFamilies();

private:
    SettingsView *open(ModelRig &rig);
};

void SettingsViewTest::cleanup()
{
    SettingsWindowController::shared().reset();
    SettingsWindowController::model = nullptr;
}

SettingsView *SettingsViewTest::open(ModelRig &rig)
{
    SettingsWindowController::model = &rig.model();
    SettingsWindowController::shared().show();
    return SettingsWindowController::shared().view();
}

void SettingsViewTest::windowTitleCardsAndSize()
{
    ModelRig rig;
    rig.make();
    SettingsView *view = open(rig);
    FloatingWindow *window = SettingsWindowController::shared().window();
    QCOMPARE(window->windowTitle(), QStringLiteral("泰萨利字幕 · 设置"));
    QCOMPARE(window->size(), QSize(500, 700));
    QCOMPARE(view->size(), QSize(500, 700));
    QStringList titles;
    for (QWidget *section : view->widget()->findChildren<QWidget *>(QStringLiteral("section"), Qt::FindDirectChildrenOnly))
        titles << section->property("sectionTitle").toString();
    QCOMPARE(titles, SettingsView::sectionTitles());
    QCOMPARE(titles.size(), 9);
    QCOMPARE(titles.first(), QStringLiteral("API 密钥"));
    QCOMPARE(titles.last(), QStringLiteral("关于"));
    QVERIFY(view->findChild<QWidget *>(QStringLiteral("footer")));
    QVERIFY(byText<QPushButton>(view, QStringLiteral("打开会议记录")));
}

void SettingsViewTest::showTwiceKeepsOneWindowAndTypedText()
{
    ModelRig rig;
    Checks checks(rig);
    ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-deepseek-0123456789"));
    ModelRig::storeKey(Keychain::elevenLabsListAccount, QStringLiteral("[\"el-0123456789abcdef\"]"));
    ModelRig::storeKey(Keychain::elevenLabsAccount, QStringLiteral("el-0123456789abcdef"));
    rig.make();
    SettingsView *view = open(rig);
    FloatingWindow *first = SettingsWindowController::shared().window();
    QCOMPARE(checks.checks, 2);
    const int balancesAfterFirst = checks.balances;
    QVERIFY(balancesAfterFirst >= 1);

    auto *field = view->findChild<QLineEdit *>(QStringLiteral("deepSeekField"));
    QCOMPARE(field->echoMode(), QLineEdit::Password);
    field->setText(QStringLiteral("typed but not saved"));
    first->close();
    SettingsWindowController::shared().show();
    QCOMPARE(SettingsWindowController::shared().window(), first);
    QCOMPARE(SettingsWindowController::shared().view(), view);
    QCOMPARE(field->text(), QStringLiteral("typed but not saved"));
    // The second show ran the check again: balances are asked for anew, and keys whose status
    // is already known are not checked twice.
    QVERIFY(checks.balances > balancesAfterFirst);
    QCOMPARE(checks.checks, 2);
}

void SettingsViewTest::showAsksAKeyringThatDidNotAnswer()
{
    ModelRig rig;
    Checks checks(rig);
    rig.make();
    // A keyring that cannot answer (its unlock prompt dismissed) is not asked again on every
    // read; opening the settings is the user's cue that it may be asked once more.
    Keychain::userActedOnKeys();
    const QString account = QStringLiteral("settings-window-%1").arg(QDateTime::currentMSecsSinceEpoch());
    std::atomic<int> reads = 0;
    Keychain::readItem = [&reads, account](const QString &service, const QString &asked) {
        if (asked != account)
            return SecretStore::read(service, asked);
        ++reads;
        return SecretStore::Reading {};
    };
    const auto restore = qScopeGuard([] {
        Keychain::readItem = &SecretStore::read;
        Keychain::userActedOnKeys();
    });
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(reads.load(), 1);
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(reads.load(), 1);

    open(rig);
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(reads.load(), 2);
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(reads.load(), 2);

    // Every show, not only the first.
    SettingsWindowController::shared().window()->close();
    SettingsWindowController::shared().show();
    QCOMPARE(Keychain::get(account), std::nullopt);
    QCOMPARE(reads.load(), 3);
}

void SettingsViewTest::sectionSymbols()
{
    QCOMPARE(SettingsView::sectionSymbol(QStringLiteral("API 密钥")), QStringLiteral("key.fill"));
    QCOMPARE(SettingsView::sectionSymbol(QStringLiteral("关于")), QStringLiteral("info.circle.fill"));
    QCOMPARE(SettingsView::sectionSymbol(QStringLiteral("别的")), QStringLiteral("circle"));
    QLabel *warning = SettingsView::note(QStringLiteral("x"), true);
    QLabel *plain = SettingsView::note(QString(500, QChar(0x5b57)), false);
    QCOMPARE(textColor(warning), SettingsView::warningColor());
    QCOMPARE(textColor(plain), SettingsView::secondaryColor());
    QVERIFY(plain->wordWrap());
    delete warning;
    delete plain;
}

void SettingsViewTest::keyRows_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QStringList>("rowTexts");
    QTest::addColumn<QString>("placeholder");
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("failover");

    QTest::newRow("no keys") << QStringList() << QStringList() << QStringLiteral("粘贴 ElevenLabs 的 API Key")
                             << QStringLiteral("保存") << false;
    QTest::newRow("one key of 20")
        << QStringList {QStringLiteral("abcdefghijklmnop1234")}
        << QStringList {QStringLiteral("密钥 1：abc…1234")} << QStringLiteral("再加一个 ElevenLabs 密钥")
        << QStringLiteral("添加") << false;
    QTest::newRow("two keys: 10 and 3 characters")
        << QStringList {QStringLiteral("0123456789"), QStringLiteral("abc")}
        << QStringList {QStringLiteral("密钥 1：••••••••••"), QStringLiteral("密钥 2：••••")}
        << QStringLiteral("再加一个 ElevenLabs 密钥") << QStringLiteral("添加") << true;
    QTest::newRow("a key with an emoji is cut between characters")
        << QStringList {QStringLiteral("ab😀defghij12345")}
        << QStringList {QStringLiteral("密钥 1：ab😀…2345")} << QStringLiteral("再加一个 ElevenLabs 密钥")
        << QStringLiteral("添加") << false;
}

void SettingsViewTest::keyRows()
{
    QFETCH(QStringList, keys);
    QFETCH(QStringList, rowTexts);
    QFETCH(QString, placeholder);
    QFETCH(QString, button);
    QFETCH(bool, failover);

    ModelRig rig;
    Checks checks(rig);
    if (!keys.isEmpty()) {
        ModelRig::storeKey(Keychain::elevenLabsListAccount, ElevenLabsKeys::encode(keys));
        ModelRig::storeKey(Keychain::elevenLabsAccount, keys.first());
    }
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    QWidget *list = view->findChild<QWidget *>(QStringLiteral("elevenLabsKeys"));
    QStringList shown;
    for (QLabel *label : list->findChildren<QLabel *>(QStringLiteral("keyText")))
        shown << label->text();
    QCOMPARE(shown, rowTexts);
    QCOMPARE(list->findChildren<QLabel *>(QStringLiteral("activeBadge")).size(), keys.isEmpty() ? 0 : 1);
    QCOMPARE(list->findChildren<QPushButton *>(QStringLiteral("useKey")).size(), std::max<qsizetype>(0, keys.size() - 1));
    QCOMPARE(list->findChildren<QPushButton *>(QStringLiteral("removeKey")).size(), keys.size());
    QCOMPARE(view->findChild<QLineEdit *>(QStringLiteral("elevenLabsField"))->placeholderText(), placeholder);
    QCOMPARE(view->findChild<QPushButton *>(QStringLiteral("elevenLabsAdd"))->text(), button);
    QCOMPARE(view->findChild<QLabel *>(QStringLiteral("failoverLine"))->isVisibleTo(view), failover);
    for (QLabel *quota : list->findChildren<QLabel *>(QStringLiteral("quotaLine")))
        QCOMPARE(quota->text(), QStringLiteral("正在查询积分…"));
    // No label anywhere holds a full key.
    for (QLabel *label : view->findChildren<QLabel *>()) {
        for (const QString &key : keys) {
            if (key.size() >= 4)
                QVERIFY2(!label->text().contains(key), qPrintable(label->text()));
        }
    }
    auto *overall = named(view, QStringLiteral("keysOverall"));
    QCOMPARE(textColor(overall), SettingsView::warningColor());
    QCOMPARE(overall->text(), keys.isEmpty()
                                  ? QStringLiteral("还没有密钥：请填上 ElevenLabs（识别）和 DeepSeek（翻译）的 API Key。")
                                  : QStringLiteral("还差 DeepSeek 的 API Key（翻译）。"));
    Q_UNUSED(model);
}

void SettingsViewTest::keyButtonsTrimOnlyBlanks()
{
    ModelRig rig;
    Checks checks(rig);
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    auto *field = view->findChild<QLineEdit *>(QStringLiteral("deepSeekField"));
    auto *save = view->findChild<QPushButton *>(QStringLiteral("deepSeekSave"));
    QCOMPARE(field->placeholderText(), QStringLiteral("粘贴 DeepSeek 的 API Key"));
    QVERIFY(!save->isEnabled());
    field->setText(QStringLiteral(" \t "));
    QVERIFY(!save->isEnabled());
    // Only line breaks: the button is enabled, the action sends nothing.
    field->setText(QStringLiteral("\n"));
    QVERIFY(save->isEnabled());
    save->click();
    QVERIFY(!model.keys().hasDeepSeekKey());
    QCOMPARE(field->text(), QStringLiteral("\n"));

    field->setText(QStringLiteral(" sk-typed-key-0123456789\n"));
    save->click();
    QVERIFY(model.keys().hasDeepSeekKey());
    QCOMPARE(ModelRig::storedKey(Keychain::deepSeekAccount), std::optional(QStringLiteral("sk-typed-key-0123456789")));
    QCOMPARE(field->text(), QString());
    QCOMPARE(named(view, QStringLiteral("maskedKey"))->text(), QStringLiteral("密钥：sk-…6789"));
    QCOMPARE(field->placeholderText(), QStringLiteral("重新粘贴可以替换"));
    QVERIFY(view->findChild<QPushButton *>(QStringLiteral("deepSeekRemove"))->isVisibleTo(view));

    auto *elevenField = view->findChild<QLineEdit *>(QStringLiteral("elevenLabsField"));
    elevenField->setText(QStringLiteral("  el-key-0123456789abc \n"));
    QTest::keyClick(elevenField, Qt::Key_Return);
    QCOMPARE(model.keys().elevenLabsKeys().keys, QStringList {QStringLiteral("el-key-0123456789abc")});
    QCOMPARE(elevenField->text(), QString());
    auto *overall = named(view, QStringLiteral("keysOverall"));
    QCOMPARE(overall->text(), QStringLiteral("可以开始了。识别用 ElevenLabs，翻译用 DeepSeek。"));
    QCOMPARE(textColor(overall), SettingsView::okColor());

    view->findChild<QPushButton *>(QStringLiteral("deepSeekRemove"))->click();
    QVERIFY(!model.keys().hasDeepSeekKey());
    QVERIFY(!named(view, QStringLiteral("maskedKey"))->isVisibleTo(view));
}

void SettingsViewTest::useKeySwitchesKeys()
{
    ModelRig rig;
    Checks checks(rig);
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    auto *field = view->findChild<QLineEdit *>(QStringLiteral("elevenLabsField"));
    const QStringList keys {QStringLiteral("el-first-0123456789a"), QStringLiteral("el-second-0123456789")};
    for (const QString &key : keys) {
        field->setText(key);
        QTest::keyClick(field, Qt::Key_Return);
    }
    QCOMPARE(model.keys().elevenLabsKeys().keys, keys);
    QCOMPARE(model.keys().elevenLabsKeys().active, 0);
    const QList<QPushButton *> use = view->findChildren<QPushButton *>(QStringLiteral("useKey"));
    QCOMPARE(use.size(), 1);
    QCOMPARE(use.first()->text(), QStringLiteral("用这个"));
    use.first()->click();
    // Both keys stay; the second is now the one in use.
    QCOMPARE(model.keys().elevenLabsKeys().keys, keys);
    QCOMPARE(model.keys().elevenLabsKeys().active, 1);
    QCOMPARE(ModelRig::storedKey(Keychain::elevenLabsAccount), std::optional(keys.at(1)));
}

void SettingsViewTest::keyStatusLines()
{
    ModelRig rig;
    rig.platform.checkKey = [](KeyProvider provider, const QString &, std::function<void(const KeyStatus &)> done) {
        done(provider == KeyProvider::deepSeek ? KeyStatus::ok() : KeyStatus::invalid());
    };
    rig.platform.fetchBalance = [](KeyProvider provider, const QString &,
                                std::function<void(const std::optional<BalanceInfo> &)> done) {
        if (provider == KeyProvider::deepSeek)
            done(BalanceInfo::money(QStringLiteral("余额 ¥12.00")));
        else
            done(BalanceInfo::quota({9950, 10000, std::nullopt, QStringLiteral("free")}));
    };
    ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-deepseek-0123456789"));
    ModelRig::storeKey(Keychain::elevenLabsListAccount, QStringLiteral("[\"el-0123456789abcdef\"]"));
    ModelRig::storeKey(Keychain::elevenLabsAccount, QStringLiteral("el-0123456789abcdef"));
    rig.make();
    SettingsView *view = open(rig);
    QList<QLabel *> statuses = view->findChildren<QLabel *>(QStringLiteral("keyStatusLine"));
    QCOMPARE(statuses.size(), 2);
    QLabel *recognition = statuses.at(0);
    QLabel *translation = statuses.at(1);
    QTRY_COMPARE(recognition->text(), QStringLiteral("✗ 密钥无效，请检查是否复制完整"));
    QCOMPARE(textColor(recognition), SettingsView::warningColor());
    QCOMPARE(translation->text(), QStringLiteral("✓ 可用"));
    QCOMPARE(textColor(translation), SettingsView::okColor());
    QCOMPARE(named(view, QStringLiteral("balanceLine"))->text(), BalanceInfo::money(QStringLiteral("余额 ¥12.00")).text());
    QCOMPARE(textColor(named(view, QStringLiteral("balanceLine"))), SettingsView::secondaryColor());
    QLabel *quota = view->findChild<QWidget *>(QStringLiteral("elevenLabsKeys"))->findChild<QLabel *>(QStringLiteral("quotaLine"));
    QVERIFY(quota->text() != QStringLiteral("正在查询积分…"));
    QCOMPARE(textColor(quota), SettingsView::warningColor());
}

// A key saved while the account service cannot be reached: once the queries have ended the
// quota line no longer claims one is running, and the figure comes when it is asked again.
void SettingsViewTest::quotaLineEndsWithoutNetwork()
{
    ModelRig rig;
    // The checks as the launch installs them, against a loopback port nobody listens on.
    rig.platform.checkKey = [](KeyProvider provider, const QString &key, std::function<void(const KeyStatus &)> done) {
        KeyCheck::check(provider, key, [done](const KeyStatus &status) { done(status); });
    };
    rig.platform.fetchBalance = [](KeyProvider provider, const QString &key,
                                   std::function<void(const std::optional<BalanceInfo> &)> done) {
        KeyCheck::balance(provider, key, [done](const std::optional<BalanceInfo> &info) { done(info); });
    };
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    KeyCheck::elevenLabsAddress = QUrl(u"http://127.0.0.1:%1"_qs.arg(closed.serverPort()));
    closed.close();
    rig.make();
    SettingsView *view = open(rig);

    const QString key = QStringLiteral("el-offline-0123456789");
    auto *field = view->findChild<QLineEdit *>(QStringLiteral("elevenLabsField"));
    field->setText(key);
    QTest::keyClick(field, Qt::Key_Return);
    auto *status = view->findChildren<QLabel *>(QStringLiteral("keyStatusLine")).first();
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), KeyStatus::unreachable(QStringLiteral("网络不通")).text(), 20000);
    // The rows are rebuilt on every change: the quota line as it stands now (a new row is
    // shown by its layout a moment later; a line hidden on purpose shows nothing).
    auto quotaShown = [view] {
        QWidget *list = view->findChild<QWidget *>(QStringLiteral("elevenLabsKeys"));
        const QList<QLabel *> lines = list->findChildren<QLabel *>(QStringLiteral("quotaLine"));
        if (lines.size() != 1)
            return u"%1 quota lines"_qs.arg(lines.size());
        return lines.first()->isHidden() ? QString() : lines.first()->text();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(quotaShown().isEmpty(), qPrintable(u"the quota line reads \"%1\""_qs.arg(quotaShown())),
                              20000);

    // The service is back; opening the settings again asks for the figure.
    FakeAccountServer server;
    QVERIFY(server.listen());
    server.expectedKey = key.toUtf8();
    server.script("/v1/models", {200, "{\"models\":[]}"});
    server.script("/v1/user/subscription", {200, R"({"character_count":1500,"character_limit":10000,"tier":"free"})"});
    KeyCheck::elevenLabsAddress = server.baseUrl();
    SettingsWindowController::shared().window()->close();
    SettingsWindowController::shared().show();
    QTRY_COMPARE_WITH_TIMEOUT(quotaShown(), QStringLiteral("剩 8,500 / 共 10,000 积分（free）"), 20000);
}

void SettingsViewTest::soundAndRecognition()
{
    ModelRig rig;
    rig.settings.writeText(QStringLiteral("autoPauseMinutes=7"));
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    auto *minutes = view->findChild<QComboBox *>(QStringLiteral("autoPause"));
    QStringList items;
    for (int i = 0; i < minutes->count(); ++i)
        items << minutes->itemText(i);
    QCOMPARE(items, (QStringList {QStringLiteral("5 分钟"), QStringLiteral("10 分钟"), QStringLiteral("20 分钟"),
                                  QStringLiteral("30 分钟"), QStringLiteral("60 分钟"), QStringLiteral("不自动暂停")}));
    // A stored value that is none of the choices selects no item.
    QCOMPARE(minutes->currentIndex(), -1);
    minutes->activated(5);
    QCOMPARE(model.autoPauseMinutes(), 0);
    QVERIFY(rig.settings.readText().contains(QStringLiteral("autoPauseMinutes=0")));
    QCOMPARE(minutes->currentIndex(), 5);

    auto *note = named(view, QStringLiteral("audioSourceNote"));
    QCOMPARE(note->text(), QStringLiteral("识别电脑正在播放的声音：线上会议、视频。"));
    byText<QPushButton>(view, QStringLiteral("麦克风"))->click();
    QCOMPARE(model.audioSource(), AudioSource::microphone);
    QCOMPARE(note->text(), QStringLiteral("识别麦克风收到的声音：现场会议、讲座。"));

    auto *diarize = byText<QCheckBox>(view, QStringLiteral("区分说话人"));
    QVERIFY(diarize->isChecked());
    diarize->click();
    QVERIFY(!model.diarize());
}

void SettingsViewTest::captionParts()
{
    ModelRig rig;
    ModelRig::storeKey(Keychain::deepSeekAccount, QStringLiteral("sk-script"));
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    QWidget *section = card(view, QStringLiteral("字幕显示"));
    auto *chinese = byText<QCheckBox>(section, QStringLiteral("中文"));
    auto *english = byText<QCheckBox>(section, QStringLiteral("英文"));
    auto *older = byText<QCheckBox>(section, QStringLiteral("停下后往上翻阅时，旧段落也显示英文"));
    QVERIFY(older->isEnabled());

    byText<QPushButton>(section, QStringLiteral("繁體"))->click();
    QVERIFY(model.captionParts().traditional);
    QVERIFY(rig.captionPrompt(QStringLiteral("Good morning.")).contains(QStringLiteral("繁体中文")));

    english->click();
    QVERIFY(!model.captionParts().english);
    QVERIFY(!older->isEnabled());
    QVERIFY(!older->isChecked());
    // Turning off the last language turns Chinese back on.
    chinese->click();
    QVERIFY(model.captionParts().chinese);
    QVERIFY(chinese->isChecked());
    QVERIFY(CaptionParts::load().chinese);

    byText<QPushButton>(section, QStringLiteral("简体"))->click();
    QVERIFY(rig.captionPrompt(QStringLiteral("See you tomorrow.")).contains(QStringLiteral("简体中文")));
}

void SettingsViewTest::translationNotes()
{
    ModelRig rig;
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    auto *research = named(view, QStringLiteral("researchNote"));
    QVERIFY(research->text().startsWith(QStringLiteral("每隔两三分钟")));
    auto *webSearch = byText<QCheckBox>(view, QStringLiteral("研究时允许联网搜索"));
    QVERIFY(webSearch->isEnabled());
    byText<QCheckBox>(view, QStringLiteral("边听边研究，自动理解会议内容"))->click();
    QVERIFY(!model.researchEnabled());
    QVERIFY(!webSearch->isEnabled());
    QVERIFY(webSearch->isChecked());

    model.setRecap(QString()); // unrelated signal: nothing moves
    QVERIFY(research->text().startsWith(QStringLiteral("每隔两三分钟")));

    auto *last = named(view, QStringLiteral("lastTranslationNote"));
    QCOMPARE(last->text(), QStringLiteral("翻译过一句后，这里会显示最近一次翻译的结果。"));
    QCOMPARE(textColor(last), SettingsView::secondaryColor());
    model.noteTranslationResult(TranslationService::deepSeek, QStringLiteral("超时"));
    QVERIFY(model.lastTranslation().has_value());
    QCOMPARE(last->text(), *model.lastTranslation());
    QCOMPARE(textColor(last), model.lastTranslation()->contains(QStringLiteral("失败")) ? SettingsView::warningColor()
                                                                                         : SettingsView::secondaryColor());
}

void SettingsViewTest::hideFromSharingIsDisabled()
{
    ModelRig rig;
    rig.settings.writeText(QStringLiteral("hideFromSharing=true"));
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    auto *hide = view->findChild<QCheckBox *>(QStringLiteral("hideFromSharing"));
    QCOMPARE(hide->text(), QStringLiteral("共享屏幕或录屏时隐藏字幕窗"));
    QVERIFY(!hide->isEnabled());
    QVERIFY(!hide->isChecked());
    QCOMPARE(named(view, QStringLiteral("hideFromSharingNote"))->text(),
             QStringLiteral("Linux 不支持这一项：共享屏幕或录屏时，字幕窗照样会被录进去。"));
    QTest::mouseClick(hide, Qt::LeftButton);
    QVERIFY(model.hideFromSharing());
    QVERIFY(rig.settings.readText().contains(QStringLiteral("hideFromSharing=true")));
}

void SettingsViewTest::captionLook()
{
    ModelRig rig;
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    QWidget *section = card(view, QStringLiteral("字幕外观"));
    QList<QAbstractButton *> tiles = section->findChildren<QAbstractButton *>(QStringLiteral("skinTile"));
    QCOMPARE(tiles.size(), CaptionSkin::all().size());
    const CaptionSkin &cinema = CaptionSkin::all().at(1);
    model.customize([](CaptionAppearance &look) { look.chineseSize = 40; look.englishSize = 28; });
    tiles.at(1)->click();
    QCOMPARE(model.appearance().skin, std::optional(cinema.id));
    QCOMPARE(model.appearance().chineseSize, 40.0);
    int selected = 0;
    for (QAbstractButton *tile : tiles)
        selected += tile->property("selected").toBool() ? 1 : 0;
    QCOMPARE(selected, 1);
    QVERIFY(tiles.at(1)->property("selected").toBool());
    auto *note = named(section, QStringLiteral("skinNote"));
    QCOMPARE(note->text(), QStringLiteral("当前：") + cinema.title + QStringLiteral("。下面任何一项改了就是“自定义”。"));

    // A size step keeps the preset; every step goes through customize.
    auto *size = section->findChild<QSlider *>(QStringLiteral("chineseSize"));
    size->setValue(41);
    QCOMPARE(model.appearance().chineseSize, 41.0);
    QVERIFY(tiles.at(1)->property("selected").toBool());

    auto *opacity = section->findChild<QSlider *>(QStringLiteral("backgroundOpacity"));
    const RGBA before = model.appearance().background;
    opacity->setValue(0);
    QCOMPARE(named(section, QStringLiteral("opacityPercent"))->text(), QStringLiteral("0%"));
    QCOMPARE(model.appearance().background.r, before.r);
    QVERIFY(!model.appearance().skin.has_value());
    QCOMPARE(note->text(), QStringLiteral("当前：自定义。点上面的皮肤可以换回预设的配色和字体（字号不变）。"));
    for (QAbstractButton *tile : tiles)
        QVERIFY(!tile->property("selected").toBool());
    // The background well shows its colour opaque.
    for (QPushButton *well : section->findChildren<QPushButton *>(QStringLiteral("colorWell"))) {
        if (well->property("well").toString() == QStringLiteral("背景"))
            QCOMPARE(well->property("color").value<QColor>().alphaF(), 1.0f);
    }

    model.customize([](CaptionAppearance &look) { look.chineseSize = 26.7; });
    QCOMPARE(named(section, QStringLiteral("chineseSizeValue"))->text(), QStringLiteral("26"));

    model.customize([](CaptionAppearance &look) { look.chineseSize = 40; look.englishSize = 28; });
    byText<QPushButton>(section, QStringLiteral("恢复默认外观"))->click();
    CaptionAppearance tech = CaptionSkin::named(QStringLiteral("tech"))->appearance;
    tech.chineseSize = 40;
    tech.englishSize = 28;
    tech.skin = QStringLiteral("tech");
    QCOMPARE(model.appearance(), tech);

    auto *fonts = section->findChild<QComboBox *>(QStringLiteral("chineseFont"));
    QCOMPARE(fonts->itemText(0), FontChoice::chinese().first().name);
    QStringList families;
    for (int i = 0; i < fonts->count(); ++i) {
        if (fonts->itemData(i).isValid()) // not the separator
            families << fonts->itemData(i).toString();
    }
    for (const QString &family : families)
        QVERIFY(!family.startsWith(QLatin1Char('.')));
    for (const FontChoice &choice : FontChoice::chinese())
        QCOMPARE(families.count(choice.family), 1);
}

void SettingsViewTest::statsLines()
{
    ModelRig rig;
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    QCOMPARE(named(view, QStringLiteral("latencyLine"))->text(),
             QStringLiteral("讲话停下到出字：还没有数据（开始翻译后显示）"));
    QVERIFY(!named(view, QStringLiteral("extrasLine"))->isVisibleTo(view));
    SessionStats stats;
    stats.addLatency(2.0, 1.0, 0.5);
    model.setStatsForTest(stats);
    QTRY_VERIFY_WITH_TIMEOUT(named(view, QStringLiteral("latencyLine"))->text() != QStringLiteral("讲话停下到出字：还没有数据（开始翻译后显示）"), 10000);
}

// Texts that name a macOS key or place read as a Linux user knows them.
void SettingsViewTest::linuxWording_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("footer hot keys") << QStringLiteral("Ctrl+Alt+S 暂停 / 继续  ·  Ctrl+Alt+= / Ctrl+Alt+- 字号");
    QTest::newRow("size hint") << QStringLiteral("开会时按 Ctrl+Alt+= 放大、Ctrl+Alt+- 缩小（中英文一起）。");
    QTest::newRow("browser tabs")
        << QStringLiteral("听写一会儿后，查看 Firefox、Chrome 等浏览器里打开着的标签页，找出正在听的视频或会议，"
                          "读取它的简介提取人名和术语（不读付款、登录、邮箱等页面）。Chrome 类浏览器要开着远程调试才能读取。");
}

void SettingsViewTest::linuxWording()
{
    QFETCH(QString, text);
    ModelRig rig;
    rig.make();
    SettingsView *view = open(rig);
    QStringList shown;
    for (QLabel *label : view->findChildren<QLabel *>())
        shown << label->text();
    QVERIFY2(shown.contains(text), qPrintable(text));
    for (const QString &line : shown)
        QVERIFY2(!line.contains(QStringLiteral("⌃")) && !line.contains(QStringLiteral("⌥")), qPrintable(line));
}

// A wheel turn over a control that has no keyboard focus scrolls the page: scrolling down the
// settings must not change (and save) every slider and menu that passes under the pointer.
void SettingsViewTest::wheelScrollsPastControls_data()
{
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("delta");
    QTest::newRow("chinese size slider, down") << QStringLiteral("chineseSize") << -120;
    QTest::newRow("english size slider, up") << QStringLiteral("englishSize") << 120;
    QTest::newRow("background opacity slider") << QStringLiteral("backgroundOpacity") << -120;
    QTest::newRow("chinese font menu") << QStringLiteral("chineseFont") << -120;
    QTest::newRow("english font menu, up") << QStringLiteral("englishFont") << 120;
    QTest::newRow("auto-pause menu") << QStringLiteral("autoPause") << -120;
}

void SettingsViewTest::wheelScrollsPastControls()
{
    QFETCH(QString, control);
    QFETCH(int, delta);
    ModelRig rig;
    AppModel &model = rig.make();
    SettingsView *view = open(rig);
    FloatingWindow *window = SettingsWindowController::shared().window();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QWidget *target = view->findChild<QWidget *>(control);
    QVERIFY(target);
    view->ensureWidgetVisible(target, 0, 120);
    QScrollBar *bar = view->verticalScrollBar();
    // Room to scroll the way the wheel turns.
    QVERIFY(delta < 0 ? bar->value() < bar->maximum() : bar->value() > bar->minimum());
    QVERIFY(!target->hasFocus());

    auto valueOf = [target] {
        if (auto *slider = qobject_cast<QSlider *>(target))
            return QVariant(slider->value());
        return QVariant(static_cast<QComboBox *>(target)->currentText());
    };
    const QVariant before = valueOf();
    const CaptionAppearance look = model.appearance();
    const int autoPause = model.autoPauseMinutes();
    const QString stored = rig.settings.readText();
    const int scrolled = bar->value();

    // A wheel turn over the middle of the control, handed to the window as the window system
    // hands it: spontaneous, so Qt picks the widget under the pointer, applies the focus
    // policies and passes an ignored turn on to the parents.
    const QPoint local = target->mapTo(window, target->rect().center());
    QVERIFY(window->rect().contains(local));
    QWheelEvent turn(QPointF(local), QPointF(window->mapToGlobal(local)), QPoint(), QPoint(0, delta), Qt::NoButton,
                     Qt::NoModifier, Qt::NoScrollPhase, false);
    QSpontaneKeyEvent::setSpontaneous(&turn);
    qApp->notify(window->windowHandle(), &turn);
    QCoreApplication::processEvents();

    QCOMPARE(valueOf(), before);
    QVERIFY(model.appearance() == look);
    QCOMPARE(model.autoPauseMinutes(), autoPause);
    QCOMPARE(rig.settings.readText(), stored);
    QVERIFY(!target->hasFocus());
    if (delta < 0)
        QVERIFY2(bar->value() > scrolled, "the page did not scroll down");
    else
        QVERIFY2(bar->value() < scrolled, "the page did not scroll up");
}

void SettingsViewTest::fontMenusListPlainFamilies()
{
    ModelRig rig;
    rig.make();
    SettingsView *view = open(rig);
    for (const QString &name : {QStringLiteral("chineseFont"), QStringLiteral("englishFont")}) {
        auto *menu = view->findChild<QComboBox *>(name);
        QVERIFY(menu);
        QStringList items;
        for (int i = 0; i < menu->count(); ++i) {
            const QString item = menu->itemText(i);
            if (item.isEmpty())
                continue; // the divider
            QVERIFY2(!items.contains(item), qPrintable(name + QStringLiteral(": twice: ") + item));
            QVERIFY2(!item.endsWith(QLatin1Char(']')), qPrintable(name + QStringLiteral(": ") + item));
            items << item;
        }
        QVERIFY(items.size() > FontChoice::chinese().size());
    }
}

DODEDAROV_TEST(SettingsViewTest)

#include "SettingsViewTest.moc"
