#include "TestMain.h"

#include "display/CaptionPanel.h"
#include "display/CaptionPanelController.h"
#include "display/FloatingWindow.h"
#include "display/HistoryTextView.h"
#include "display/HotKey.h"
#include "display/WindowPlacement.h"
#include "fakes/ModelRig.h"
#include "platform/x11/X11Desktop.h"
#include "shell/import/ImportView.h"
#include "shell/import/ImportWindowController.h"
#include "shell/SettingsView.h"
#include "shell/SettingsWindowController.h"
#include "shell/StatsWindowController.h"
#include "shell/chat/ChatWindowController.h"

#include <QAbstractNativeEventFilter>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QDir>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QScopeGuard>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace {

constexpr int waitMs = 20000;

// Sees every key press on Qt's connection before the hot keys' filter does.
class KeyPressLog final : public QAbstractNativeEventFilter {
public:
    struct Press {
        quint8 keycode;
        quint16 state;
    };
    QList<Press> presses;

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        auto *event = static_cast<xcb_generic_event_t *>(message);
        if (eventType == "xcb_generic_event_t" && (event->response_type & 0x7f) == XCB_KEY_PRESS) {
            auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
            presses.append({key->detail, key->state});
        }
        return false;
    }
};

struct ConnectionCloser {
    void operator()(xcb_connection_t *c) const { xcb_disconnect(c); }
};
using Connection = std::unique_ptr<xcb_connection_t, ConnectionCloser>;

xcb_window_t rootOf(xcb_connection_t *c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

xcb_atom_t internAtom(xcb_connection_t *c, const QByteArray &name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, quint16(name.size()), name.constData()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

// The client windows from bottom to top, as the window manager stacks them.
QList<quint32> stacking(xcb_connection_t *c)
{
    QList<quint32> windows;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, rootOf(c), internAtom(c, "_NET_CLIENT_LIST_STACKING"),
                            XCB_ATOM_WINDOW, 0, 1024),
        nullptr);
    if (reply && reply->format == 32) {
        const auto *data = static_cast<const quint32 *>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / 4; ++i)
            windows.append(data[i]);
    }
    std::free(reply);
    return windows;
}

bool runXdotool(const QStringList &arguments)
{
    QProcess process;
    process.start(u"xdotool"_qs, arguments);
    if (!process.waitForFinished(waitMs)) {
        qWarning() << "xdotool did not finish" << arguments;
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning() << "xdotool failed" << arguments << process.readAllStandardError();
        return false;
    }
    return true;
}

QKeyCombination ctrlAlt(Qt::Key key)
{
    return QKeyCombination(Qt::ControlModifier | Qt::AltModifier, key);
}


// The ICCCM WM_STATE the window manager gives a client window: 1 normal, 3 iconic; nothing
// while it is withdrawn.
std::optional<quint32> wmState(xcb_connection_t *c, quint32 window)
{
    const xcb_atom_t atom = internAtom(c, "WM_STATE");
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, atom, atom, 0, 2), nullptr);
    std::optional<quint32> state;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        state = *static_cast<const quint32 *>(xcb_get_property_value(reply));
    std::free(reply);
    return state;
}

// The window the window manager has made active.
quint32 activeWindow(xcb_connection_t *c)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, rootOf(c), internAtom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    quint32 active = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        active = *static_cast<const quint32 *>(xcb_get_property_value(reply));
    std::free(reply);
    return active;
}

// One spoken sentence of a meeting, numbered so that a grab shows which one is the newest.
QString sentence(int n)
{
    return u"Sentence %1: the committee will look at the budget for the second quarter again next week"_qs.arg(n);
}

QString translation(int n)
{
    return u"第 %1 句：委员会下周会再看一遍第二季度的预算，然后再决定"_qs.arg(n);
}

// Where the newest line's last character is drawn, against the history's visible area.
struct NewestLine {
    QRect cursor;
    QRect viewport;
    bool inside() const { return !cursor.isEmpty() && viewport.contains(cursor); }
};

NewestLine newestLine(HistoryTextView *text)
{
    QTextBlock block = text->document()->lastBlock();
    while (block.isValid() && block.text().trimmed().isEmpty())
        block = block.previous();
    NewestLine at;
    at.viewport = text->viewport()->rect();
    if (!block.isValid())
        return at;
    QTextCursor cursor(text->document());
    cursor.setPosition(block.position() + block.length() - 1);
    at.cursor = text->cursorRect(cursor);
    return at;
}

QString describe(HistoryTextView *text)
{
    const NewestLine at = newestLine(text);
    QScrollBar *bar = text->verticalScrollBar();
    return u"newest line's end at %1,%2 %3x%4 in a viewport %5x%6; scrollbar %7 of %8; document %9"_qs
        .arg(at.cursor.x()).arg(at.cursor.y()).arg(at.cursor.width()).arg(at.cursor.height())
        .arg(at.viewport.width()).arg(at.viewport.height()).arg(bar->value()).arg(bar->maximum())
        .arg(text->document()->size().height()) + u" follow %1 unseen %2 held %3"_qs.arg(text->follow()).arg(text->unseen()).arg(text->heldHeight());
}

bool atNewest(HistoryTextView *text)
{
    return newestLine(text).inside() && text->verticalScrollBar()->value() == text->verticalScrollBar()->maximum()
        && !text->animating();
}

// Whether the history shows the text: the view has taken the model's latest lines.
bool rendered(HistoryTextView *text, const QString &piece)
{
    return text->document()->toPlainText().contains(piece);
}

}

// Hot keys, floating windows and the desktop helpers on a real X server with a real window
// manager (openbox, started here). Runs as its own CTest entry with QT_QPA_PLATFORM=xcb on
// the test environment's Xvfb; skipped on any other platform.
class X11Test final : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    // First: hot key ids count from 1 in the process.
    void hotKeys();
    void combinationHeldElsewhereFailsAndUsesItsId();
    void keyboardMappingChangeGrabsAgain();
    void otherKeysReachTheFocusedWindow();
    void keptOnAllDesktops();
    void compositingManagerIsTheSelectionOwner();
    void floatingWindowPresentedFromAnotherDesktop();
    void captionPanelStates();
    void historyFollowsNewestLine_data();
    void historyFollowsNewestLine();
    void windowsStayAboveThePanel();
    void minimisedWindowComesBack_data();
    void minimisedWindowComesBack();
    void settingsFitAShortScreen();

private:
    QProcess m_openbox;
    KeyPressLog m_log;
};

void X11Test::initTestCase()
{
    if (QGuiApplication::platformName() != u"xcb")
        QSKIP("needs the xcb platform (the display_x11 test entry)");
    m_openbox.setProgram(u"openbox"_qs);
    m_openbox.setArguments({u"--sm-disable"_qs});
    m_openbox.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_openbox.start();
    QVERIFY2(m_openbox.waitForStarted(waitMs), "openbox did not start (scripts/install-deps)");
    // The window manager is ready once it publishes the desktops.
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::currentDesktop().has_value(), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::supports("_NET_WM_STATE_ABOVE"), waitMs);
}

void X11Test::cleanupTestCase()
{
    if (m_openbox.state() == QProcess::NotRunning)
        return;
    // By its pid, and only it.
    m_openbox.terminate();
    if (!m_openbox.waitForFinished(waitMs)) {
        m_openbox.kill();
        m_openbox.waitForFinished(waitMs);
    }
}

void X11Test::cleanup()
{
    QGuiApplication::instance()->removeNativeEventFilter(&m_log);
    m_log.presses.clear();
    WindowPlacement::captionFrame = [] { return std::optional<QRect>(); };
    if (X11Desktop::currentDesktop().value_or(0) != 0)
        QVERIFY(runXdotool({u"set_desktop"_qs, u"0"_qs}));
}

void X11Test::hotKeys()
{
    int s = 0;
    int equal = 0;
    int minus = 0;
    std::unique_ptr<HotKey> keyS = HotKey::create(ctrlAlt(Qt::Key_S), [&] { ++s; });
    std::unique_ptr<HotKey> keyEqual = HotKey::create(ctrlAlt(Qt::Key_Equal), [&] { ++equal; });
    std::unique_ptr<HotKey> keyMinus = HotKey::create(ctrlAlt(Qt::Key_Minus), [&] { ++minus; });
    QVERIFY(keyS && keyEqual && keyMinus);
    QCOMPARE(keyS->id(), 1u);
    QCOMPARE(keyEqual->id(), 2u);
    QCOMPARE(keyMinus->id(), 3u);
    // Installed after the hot keys' filter, so it runs before it.
    QGuiApplication::instance()->installNativeEventFilter(&m_log);

    // One press, one action. The press of another hot key behind it shows that nothing more
    // was on its way.
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+s"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(s, 1, waitMs);
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+minus"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(minus, 1, waitMs);
    QCOMPARE(s, 1);
    QCOMPARE(equal, 0);

    // A held key repeats on the server; it is still one action.
    m_log.presses.clear();
    QVERIFY(runXdotool({u"keydown"_qs, u"ctrl+alt+s"_qs, u"sleep"_qs, u"1.2"_qs, u"keyup"_qs, u"ctrl+alt+s"_qs}));
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+minus"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(minus, 2, waitMs);
    QCOMPARE(s, 2);
    QVERIFY2(m_log.presses.size() > 2, "the server sent no repeats; the hold proves nothing");

    // Num Lock on: the grab still matches.
    QVERIFY(runXdotool({u"key"_qs, u"Num_Lock"_qs}));
    {
        // Off again whatever happens, or later tests would run with it on.
        const auto numLockOff = qScopeGuard([] { runXdotool({u"key"_qs, u"Num_Lock"_qs}); });
        m_log.presses.clear();
        QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+equal"_qs}));
        QTRY_COMPARE_WITH_TIMEOUT(equal, 1, waitMs);
    }
    QVERIFY(!m_log.presses.isEmpty());
    QVERIFY2(m_log.presses.constLast().state & XCB_MOD_MASK_2, "Num Lock was not on");

    // A released key does nothing; the others still work.
    keyEqual.reset();
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+equal"_qs}));
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+s"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(s, 3, waitMs);
    QCOMPARE(equal, 1);
    QCOMPARE(minus, 2);
}

void X11Test::combinationHeldElsewhereFailsAndUsesItsId()
{
    Connection other(xcb_connect(nullptr, nullptr));
    QVERIFY(other && !xcb_connection_has_error(other.get()));
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(other.get());
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, 'b');
    QVERIFY(codes && codes[0] != XCB_NO_SYMBOL);
    const xcb_keycode_t code = codes[0];
    std::free(codes);
    xcb_key_symbols_free(symbols);
    xcb_generic_error_t *error = xcb_request_check(
        other.get(), xcb_grab_key_checked(other.get(), 0, rootOf(other.get()),
                                          XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, code,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    QVERIFY(!error);

    int y = 0;
    int n = 0;
    int b = 0;
    const std::unique_ptr<HotKey> first = HotKey::create(ctrlAlt(Qt::Key_Y), [&] { ++y; });
    QVERIFY(first);
    QVERIFY(!HotKey::create(ctrlAlt(Qt::Key_B), [&] { ++b; }));
    const std::unique_ptr<HotKey> next = HotKey::create(ctrlAlt(Qt::Key_N), [&] { ++n; });
    QVERIFY(next);
    QCOMPARE(next->id(), first->id() + 2);

    // The other client keeps its combination; ours works.
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+b"_qs}));
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+n"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(n, 1, waitMs);
    QCOMPARE(b, 0);
    bool otherGotIt = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(other.get())) {
        otherGotIt = otherGotIt || (event->response_type & 0x7f) == XCB_KEY_PRESS;
        std::free(event);
    }
    QVERIFY(otherGotIt);
}

void X11Test::keyboardMappingChangeGrabsAgain()
{
    // Move the keysym "k" to a keycode of its own, as a keyboard layout switch would.
    Connection other(xcb_connect(nullptr, nullptr));
    QVERIFY(other && !xcb_connection_has_error(other.get()));
    const xcb_setup_t *setup = xcb_get_setup(other.get());
    const xcb_keycode_t first = setup->min_keycode;
    const quint8 count = quint8(setup->max_keycode - first + 1);
    xcb_get_keyboard_mapping_reply_t *mapping = xcb_get_keyboard_mapping_reply(
        other.get(), xcb_get_keyboard_mapping(other.get(), first, count), nullptr);
    QVERIFY(mapping);
    const int perCode = mapping->keysyms_per_keycode;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(mapping);
    int oldCode = -1;
    int spareCode = -1;
    for (int i = count - 1; i >= 0; --i) {
        bool empty = true;
        for (int j = 0; j < perCode; ++j) {
            empty = empty && syms[i * perCode + j] == XCB_NO_SYMBOL;
            if (syms[i * perCode + j] == 'k')
                oldCode = first + i;
        }
        if (empty && spareCode < 0 && first + i > 8)
            spareCode = first + i;
    }
    QVERIFY(oldCode > 0 && spareCode > 0);
    // The rows exactly as they were: a restore that puts back only the first column leaves
    // "k" where xdotool no longer finds it, so it remaps a spare keycode while later tests
    // type, racing Qt's own keymap refresh.
    const QList<xcb_keysym_t> oldRow(syms + (oldCode - first) * perCode, syms + (oldCode - first + 1) * perCode);
    const QList<xcb_keysym_t> spareRow(syms + (spareCode - first) * perCode,
                                       syms + (spareCode - first + 1) * perCode);
    std::free(mapping);

    int k = 0;
    const std::unique_ptr<HotKey> key = HotKey::create(ctrlAlt(Qt::Key_K), [&] { ++k; });
    QVERIFY(key);
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+k"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(k, 1, waitMs);

    const auto remap = [&](int code, xcb_keysym_t keysym) {
        QList<xcb_keysym_t> row(perCode, XCB_NO_SYMBOL);
        row[0] = keysym;
        xcb_change_keyboard_mapping(other.get(), 1, xcb_keycode_t(code), quint8(perCode), row.constData());
    };
    remap(oldCode, XCB_NO_SYMBOL);
    remap(spareCode, 'k');
    xcb_flush(other.get());
    const auto restore = qScopeGuard([&] {
        xcb_change_keyboard_mapping(other.get(), 1, xcb_keycode_t(spareCode), quint8(perCode), spareRow.constData());
        xcb_change_keyboard_mapping(other.get(), 1, xcb_keycode_t(oldCode), quint8(perCode), oldRow.constData());
        // A round trip: the server has the old map back before the next test starts.
        std::free(xcb_get_input_focus_reply(other.get(), xcb_get_input_focus(other.get()), nullptr));
    });
    // xdotool types the keysym on its present keycode: the press reaches us only if the
    // grab moved with it.
    QTRY_VERIFY_WITH_TIMEOUT(runXdotool({u"key"_qs, u"ctrl+alt+k"_qs}) && k == 2, waitMs);
}

void X11Test::otherKeysReachTheFocusedWindow()
{
    int s = 0;
    const std::unique_ptr<HotKey> key = HotKey::create(ctrlAlt(Qt::Key_S), [&] { ++s; });
    QVERIFY(key);
    FloatingWindow window;
    auto *field = new QLineEdit(&window);
    window.resize(300, 80);
    field->resize(280, 30);
    WindowPlacement::present(&window);
    QVERIFY(QTest::qWaitForWindowActive(&window, waitMs));
    field->setFocus();

    QVERIFY(runXdotool({u"type"_qs, u"s=s-"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(field->text(), u"s=s-"_qs, waitMs);
    QVERIFY(runXdotool({u"key"_qs, u"ctrl+alt+s"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(s, 1, waitMs);
    QVERIFY(runXdotool({u"type"_qs, u"k"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(field->text(), u"s=s-k"_qs, waitMs);
}

void X11Test::keptOnAllDesktops()
{
    // Stands in for the caption panel.
    QWidget panel(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    panel.setAttribute(Qt::WA_ShowWithoutActivating);
    panel.setGeometry(800, 100, 300, 500);
    panel.winId();
    QWindow *window = panel.windowHandle();
    QVERIFY(!X11Desktop::compositingManagerRunning(window));

    for (int round = 0; round < 2; ++round) {
        X11Desktop::keepOnAllDesktopsBeforeShow(window);
        panel.show();
        X11Desktop::keepOnAllDesktopsAfterShow(window);
        QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(window), waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(X11Desktop::windowDesktop(window), std::optional(X11Desktop::allDesktops), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(window, "_NET_WM_STATE_ABOVE"), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(window, "_NET_WM_STATE_SKIP_TASKBAR"), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(window, "_NET_WM_STATE_SKIP_PAGER"), waitMs);
        if (X11Desktop::supports("_NET_WM_STATE_STICKY"))
            QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(window, "_NET_WM_STATE_STICKY"), waitMs);
        QVERIFY(X11Desktop::isOnCurrentDesktop(window));

        QVERIFY(runXdotool({u"set_desktop"_qs, u"1"_qs}));
        QTRY_COMPARE_WITH_TIMEOUT(X11Desktop::currentDesktop(), std::optional(1u), waitMs);
        QVERIFY(X11Desktop::isViewable(window));
        QVERIFY(X11Desktop::isOnCurrentDesktop(window));
        QVERIFY(runXdotool({u"set_desktop"_qs, u"0"_qs}));
        QTRY_COMPARE_WITH_TIMEOUT(X11Desktop::currentDesktop(), std::optional(0u), waitMs);

        // Withdrawn and shown again: the window manager dropped its properties meanwhile.
        panel.hide();
        QTRY_VERIFY_WITH_TIMEOUT(!X11Desktop::isViewable(window), waitMs);
    }
}

void X11Test::compositingManagerIsTheSelectionOwner()
{
    QVERIFY(!X11Desktop::compositingManagerRunning(nullptr));
    Connection other(xcb_connect(nullptr, nullptr));
    QVERIFY(other && !xcb_connection_has_error(other.get()));
    const xcb_window_t owner = xcb_generate_id(other.get());
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(other.get())).data;
    xcb_create_window(other.get(), XCB_COPY_FROM_PARENT, owner, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(other.get(), owner, internAtom(other.get(), "_NET_WM_CM_S0"), XCB_CURRENT_TIME);
    xcb_flush(other.get());
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::compositingManagerRunning(nullptr), waitMs);
    other.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!X11Desktop::compositingManagerRunning(nullptr), waitMs);
}

void X11Test::floatingWindowPresentedFromAnotherDesktop()
{
    QWidget panel(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    panel.setAttribute(Qt::WA_ShowWithoutActivating);
    panel.setGeometry(900, 50, 340, 900);
    panel.winId();
    X11Desktop::keepOnAllDesktopsBeforeShow(panel.windowHandle());
    panel.show();
    X11Desktop::keepOnAllDesktopsAfterShow(panel.windowHandle());
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(panel.windowHandle()), waitMs);
    WindowPlacement::captionFrame = [&panel] { return std::optional(panel.frameGeometry()); };

    FloatingWindow window;
    window.resize(400, 300);
    WindowPlacement::present(&window);
    QWindow *handle = window.windowHandle();
    QVERIFY(handle);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(handle), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(handle, "_NET_WM_STATE_ABOVE"), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(X11Desktop::windowDesktop(handle), std::optional(0u), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!window.frameGeometry().intersects(panel.frameGeometry()), waitMs);

    // The user goes to desktop 2; the window stays behind on desktop 1.
    QVERIFY(runXdotool({u"set_desktop"_qs, u"1"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(X11Desktop::currentDesktop(), std::optional(1u), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!X11Desktop::isViewable(handle), waitMs);
    QVERIFY(!X11Desktop::isOnCurrentDesktop(handle));

    WindowPlacement::present(&window);
    QTRY_COMPARE_WITH_TIMEOUT(X11Desktop::windowDesktop(handle), std::optional(1u), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(handle), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(handle, "_NET_WM_STATE_ABOVE"), waitMs);
    // Above the panel.
    Connection probe(xcb_connect(nullptr, nullptr));
    QVERIFY(probe && !xcb_connection_has_error(probe.get()));
    const quint32 panelId = quint32(panel.winId());
    const quint32 windowId = quint32(window.winId());
    QTRY_VERIFY_WITH_TIMEOUT(stacking(probe.get()).indexOf(windowId) > stacking(probe.get()).indexOf(panelId)
                                 && stacking(probe.get()).contains(panelId),
                             waitMs);
}

void X11Test::captionPanelStates()
{
    ModelRig rig;
    AppModel &model = rig.make();
    CaptionPanelController controller(&model);
    CaptionPanel *panel = controller.panel();
    // Shown a turn after the controller is made.
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), waitMs);
    const auto checkStates = [&] {
        QWindow *window = panel->windowHandle();
        QVERIFY(window);
        QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(window), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(window, "_NET_WM_STATE_ABOVE"), waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(X11Desktop::windowDesktop(window), std::optional(X11Desktop::allDesktops), waitMs);
        QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(window, "_NET_WM_STATE_SKIP_TASKBAR"), waitMs);
        if (X11Desktop::supports("_NET_WM_STATE_STICKY"))
            QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(window, "_NET_WM_STATE_STICKY"), waitMs);
    };
    checkStates();
    if (QTest::currentTestFailed())
        return;

    // Hidden and shown again by the model: the window manager forgot the states on the
    // withdrawal, the panel puts them back.
    model.setPanelVisible(false);
    QTRY_VERIFY_WITH_TIMEOUT(!X11Desktop::isViewable(panel->windowHandle()), waitMs);
    model.setPanelVisible(true);
    checkStates();
    if (QTest::currentTestFailed())
        return;

    // Another desktop: the panel is still there.
    QVERIFY(runXdotool({u"set_desktop"_qs, u"1"_qs}));
    QTRY_COMPARE_WITH_TIMEOUT(X11Desktop::currentDesktop(), std::optional<quint32>(1), waitMs);
    QVERIFY(X11Desktop::isViewable(panel->windowHandle()));
    QVERIFY(X11Desktop::isOnCurrentDesktop(panel->windowHandle()));
}

// The caption panel as a user sees it: the real controller, view and model at the panel's
// default frame, a meeting's sentences arriving with partials, commits and streamed
// translations. After every finished line the newest line's end must lie wholly inside the
// history's visible area with the scrollbar at its end; the pointer and the wheel then pause,
// release and leave the follow. Grabs of the screen go under the build folder.
void X11Test::historyFollowsNewestLine_data()
{
    QTest::addColumn<bool>("expanded");
    QTest::addColumn<double>("fontSize");
    QTest::addColumn<bool>("outline");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QSize>("resizeTo");

    const QSize same;
    QTest::newRow("following") << true << 26.0 << false << u"none"_qs << same;
    QTest::newRow("collapsed") << false << 26.0 << false << u"none"_qs << same;
    QTest::newRow("font 12, outline") << true << 12.0 << true << u"none"_qs << same;
    QTest::newRow("font 60, outline") << true << 60.0 << true << u"none"_qs << same;
    QTest::newRow("font 60, collapsed") << false << 60.0 << false << u"none"_qs << same;
    QTest::newRow("resized") << true << 26.0 << false << u"none"_qs << QSize(520, 600);
    QTest::newRow("pointer on the panel") << true << 26.0 << false << u"hover"_qs << same;
    QTest::newRow("pointer away") << true << 26.0 << false << u"leave"_qs << same;
    QTest::newRow("wheel up one step") << true << 26.0 << false << u"wheel"_qs << same;
    QTest::newRow("jump") << true << 26.0 << false << u"jump"_qs << same;
}

void X11Test::historyFollowsNewestLine()
{
    QFETCH(bool, expanded);
    QFETCH(double, fontSize);
    QFETCH(bool, outline);
    QFETCH(QString, action);
    QFETCH(QSize, resizeTo);

    // The pointer starts well away from where the panel opens.
    QVERIFY(runXdotool({u"mousemove"_qs, u"1500"_qs, u"20"_qs}));
    ModelRig rig;
    AppModel &model = rig.make();
    CaptionAppearance look = model.appearance();
    look.chineseSize = fontSize;
    look.englishSize = std::max(12.0, fontSize * 0.7);
    look.outline = outline;
    model.setAppearance(look);
    model.setExpanded(expanded);
    CaptionPanelController controller(&model);
    CaptionPanel *panel = controller.panel();
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible(), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(panel->windowHandle()), waitMs);
    if (resizeTo.isValid())
        panel->resize(resizeTo);
    auto *text = panel->findChild<HistoryTextView *>();
    QVERIFY(text);
    QPushButton *jump = nullptr;
    for (QPushButton *button : panel->findChildren<QPushButton *>()) {
        if (button->toolTip().startsWith(u"回到最新"))
            jump = button;
    }
    QVERIFY(jump);
    qInfo() << "panel frame" << panel->geometry();

    const QString shots = QDir(QCoreApplication::applicationDirPath()).filePath(u"x11-follow"_qs);
    QDir().mkpath(shots);
    const QString rowName = QString::fromUtf8(QTest::currentDataTag()).replace(u' ', u'-').remove(u',');
    const auto shoot = [&](const QString &name) {
        QGuiApplication::primaryScreen()->grabWindow(0).save(
            QDir(shots).filePath(u"%1-%2.png"_qs.arg(rowName, name)));
    };

    QList<CaptionLine> lines;
    int nextId = 1;
    const auto publish = [&] { rig.setLines(lines); };
    // A sentence as the caption flow delivers it: partial words, the commit, the translation
    // streamed in pieces.
    const auto speak = [&](int n) {
        CaptionLine line;
        line.id = nextId++;
        line.time = rig.wallNow;
        line.language = SpeechLanguage::english;
        const QString full = sentence(n);
        lines.append(line);
        for (qsizetype cut : {full.size() / 3, 2 * full.size() / 3}) {
            lines.last().english = full.left(cut);
            publish();
            QCoreApplication::processEvents();
        }
        lines.last().english = full;
        lines.last().finished = true;
        publish();
        const QString chinese = translation(n);
        for (qsizetype cut : {chinese.size() / 2, chinese.size()}) {
            lines.last().chinese = chinese.left(cut);
            publish();
            QCoreApplication::processEvents();
        }
    };
    const auto followed = [&](const QString &what) {
        QTRY_VERIFY2_WITH_TIMEOUT(atNewest(text), qPrintable(what + u": "_qs + describe(text)), 5000);
    };

    for (int n = 1; n <= 20; ++n) {
        speak(n);
        // A late translation changes a paragraph above; a merge shortens the text above.
        if (n == 10)
            lines[7].chinese += u"（补充：预算里还有一项没有算进去，要下次会上再讨论）"_qs;
        if (n == 15) {
            lines[12].english += u" "_qs + lines[13].english;
            lines[12].chinese += lines[13].chinese;
            lines[12].merged = true;
            lines.removeAt(13);
        }
        publish();
        QTRY_VERIFY_WITH_TIMEOUT(rendered(text, translation(n)), waitMs);
        followed(u"after sentence %1"_qs.arg(n));
        shoot(u"line%1"_qs.arg(n, 2, 10, QChar(u'0')));
        if (QTest::currentTestFailed())
            return;
    }
    if (action == u"none")
        return;

    const QPoint middle = panel->geometry().center();
    QVERIFY(runXdotool({u"mousemove"_qs, QString::number(middle.x()), QString::number(middle.y())}));
    QTRY_VERIFY_WITH_TIMEOUT(model.hovering(), waitMs);
    if (action == u"hover" || action == u"leave") {
        // Holding still: the line the user was reading stays on screen (older lines may drop
        // their English above it; the view keeps the last paragraph in place) and the new
        // lines wait below.
        const auto shownAt = [&] {
            const QTextCursor found = text->document()->find(translation(20));
            return text->cursorRect(found).top();
        };
        QTRY_VERIFY_WITH_TIMEOUT(!text->animating(), waitMs);
        const int held = shownAt();
        for (int n = 21; n <= 23; ++n)
            speak(n);
        QTRY_VERIFY_WITH_TIMEOUT(rendered(text, translation(23)), waitMs);
        QTRY_COMPARE_WITH_TIMEOUT(text->unseen(), 3, waitMs);
        const QRect read = text->cursorRect(text->document()->find(translation(20)));
        QVERIFY2(text->viewport()->rect().contains(read),
                 qPrintable(describe(text) + u"; sentence 20 moved from %1 to %2"_qs.arg(held).arg(read.top())));
        QVERIFY(!newestLine(text).inside());
        QTRY_VERIFY_WITH_TIMEOUT(jump->isVisible(), waitMs);
        shoot(u"paused"_qs);
        if (action == u"hover")
            return;
        QVERIFY(runXdotool({u"mousemove"_qs, u"1500"_qs, u"20"_qs}));
        QTRY_VERIFY_WITH_TIMEOUT(!model.hovering(), waitMs);
        followed(u"after the pointer left"_qs);
        QCOMPARE(text->unseen(), 0);
        shoot(u"left"_qs);
        return;
    }

    // The wheel up past the follow threshold: browsing; new lines leave the view where it is.
    QVERIFY(runXdotool({u"click"_qs, u"--repeat"_qs, u"2"_qs, u"4"_qs}));
    QTRY_VERIFY_WITH_TIMEOUT(!text->follow(), waitMs);
    QVERIFY(runXdotool({u"mousemove"_qs, u"1500"_qs, u"20"_qs}));
    QTRY_VERIFY_WITH_TIMEOUT(!model.hovering(), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!text->animating(), waitMs);
    const int browsed = text->verticalScrollBar()->value();
    speak(21);
    QTRY_VERIFY_WITH_TIMEOUT(rendered(text, translation(21)), waitMs);
    QCOMPARE(text->verticalScrollBar()->value(), browsed);
    QVERIFY(!newestLine(text).inside());
    QTRY_VERIFY_WITH_TIMEOUT(jump->isVisible(), waitMs);
    shoot(u"browsing"_qs);
    if (action == u"wheel")
        return;

    const QPoint onJump = jump->mapToGlobal(jump->rect().center());
    QVERIFY(runXdotool({u"mousemove"_qs, QString::number(onJump.x()), QString::number(onJump.y())}));
    QTRY_VERIFY_WITH_TIMEOUT(model.hovering(), waitMs);
    QVERIFY(runXdotool({u"click"_qs, u"1"_qs}));
    QTRY_VERIFY_WITH_TIMEOUT(text->follow(), waitMs);
    followed(u"after the jump"_qs);
    QVERIFY(runXdotool({u"mousemove"_qs, u"1500"_qs, u"20"_qs}));
    QTRY_VERIFY_WITH_TIMEOUT(!model.hovering(), waitMs);
    speak(22);
    QTRY_VERIFY_WITH_TIMEOUT(rendered(text, translation(22)), waitMs);
    followed(u"a line after the jump"_qs);
    shoot(u"jumped"_qs);
}

// At launch a floating window is presented before the panel shows (a turn later); the import
// window and its file dialog are presented over the shown panel. Each ends above the panel.
void X11Test::windowsStayAboveThePanel()
{
    Connection probe(xcb_connect(nullptr, nullptr));
    QVERIFY(probe && !xcb_connection_has_error(probe.get()));
    const auto above = [&](QWidget *upper, QWidget *lower) {
        const QList<quint32> order = stacking(probe.get());
        const qsizetype u = order.indexOf(quint32(upper->winId()));
        const qsizetype l = order.indexOf(quint32(lower->winId()));
        return u >= 0 && l >= 0 && u > l;
    };

    ModelRig rig;
    AppModel &model = rig.make();
    CaptionPanelController controller(&model);
    CaptionPanel *panel = controller.panel();
    QVERIFY(!panel->isVisible());
    FloatingWindow settings;
    settings.resize(500, 700);
    WindowPlacement::present(&settings);
    QTRY_VERIFY_WITH_TIMEOUT(panel->isVisible() && X11Desktop::isViewable(panel->windowHandle()), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(settings.windowHandle()), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(above(&settings, panel), waitMs);
    settings.hide();

    ImportWindowController::shared().show();
    FloatingWindow *import = ImportWindowController::shared().window();
    QVERIFY(import);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(import->windowHandle()), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::hasState(import->windowHandle(), "_NET_WM_STATE_ABOVE"), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(above(import, panel), waitMs);

    auto *view = import->findChild<ImportView *>();
    QVERIFY(view);
    QPointer<QFileDialog> dialog = view->fileDialog();
    dialog->open();
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(dialog->windowHandle()), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(above(dialog, panel), waitMs);
    // The panel shown again while the dialog is open stays under it.
    model.setPanelVisible(false);
    QTRY_VERIFY_WITH_TIMEOUT(!X11Desktop::isViewable(panel->windowHandle()), waitMs);
    model.setPanelVisible(true);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(panel->windowHandle()), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(above(dialog, panel) && above(import, panel), waitMs);
    dialog->reject();
    delete dialog;
    import->hide();
}

void X11Test::minimisedWindowComesBack_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("settings") << u"settings"_qs;
    QTest::newRow("statistics") << u"statistics"_qs;
    QTest::newRow("chat") << u"chat"_qs;
    QTest::newRow("import") << u"import"_qs;
}

// The window manager draws a minimise button whatever the window asks for: a window minimised
// with it comes back, normal and active, from the menu entry that opens it.
void X11Test::minimisedWindowComesBack()
{
    QFETCH(QString, window);
    ModelRig rig;
    AppModel &model = rig.make();
    SettingsWindowController::model = &model;
    StatsWindowController::model = &model;
    ChatWindowController::model = &model;
    const auto drop = qScopeGuard([] {
        SettingsWindowController::shared().reset();
        StatsWindowController::shared().reset();
        ChatWindowController::shared().reset();
        if (FloatingWindow *import = ImportWindowController::shared().window())
            import->hide();
        SettingsWindowController::model = nullptr;
        StatsWindowController::model = nullptr;
        ChatWindowController::model = nullptr;
    });
    const auto open = [&]() -> FloatingWindow * {
        if (window == u"settings") {
            SettingsWindowController::shared().show();
            return SettingsWindowController::shared().window();
        }
        if (window == u"statistics") {
            StatsWindowController::shared().show();
            return StatsWindowController::shared().window();
        }
        if (window == u"chat") {
            ChatWindowController::shared().show();
            return ChatWindowController::shared().window();
        }
        ImportWindowController::shared().show();
        return ImportWindowController::shared().window();
    };
    Connection probe(xcb_connect(nullptr, nullptr));
    QVERIFY(probe && !xcb_connection_has_error(probe.get()));

    FloatingWindow *shown = open();
    QVERIFY(shown);
    const quint32 id = quint32(shown->winId());
    QTRY_COMPARE_WITH_TIMEOUT(wmState(probe.get(), id), std::optional(1u), waitMs);
    QVERIFY(QTest::qWaitForWindowActive(shown, waitMs));

    QVERIFY(runXdotool({u"windowminimize"_qs, QString::number(id)}));
    QTRY_COMPARE_WITH_TIMEOUT(wmState(probe.get(), id), std::optional(3u), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!X11Desktop::isViewable(shown->windowHandle()), waitMs);
    // Qt has heard of it: the window is minimised as far as the application knows.
    QTRY_VERIFY_WITH_TIMEOUT(shown->isMinimized(), waitMs);

    QCOMPARE(open(), shown);
    QTRY_COMPARE_WITH_TIMEOUT(wmState(probe.get(), id), std::optional(1u), waitMs);
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(shown->windowHandle()), waitMs);
    QTRY_COMPARE_WITH_TIMEOUT(activeWindow(probe.get()), id, waitMs);
    QVERIFY(QTest::qWaitForWindowActive(shown, waitMs));
    QVERIFY(!shown->isMinimized());
}

// A screen with less room than the settings page is tall (a HiDPI scale, a taskbar): the
// window with its title bar lies inside the available area and the page scrolls to its end.
void X11Test::settingsFitAShortScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect whole = screen->geometry();
    // A taskbar along the bottom that leaves 560 pixels above it, reserved as desktop panels
    // reserve their edge.
    const int reserved = whole.height() - 560;
    Connection dock(xcb_connect(nullptr, nullptr));
    QVERIFY(dock && !xcb_connection_has_error(dock.get()));
    xcb_connection_t *c = dock.get();
    const xcb_window_t bar = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, bar, rootOf(c), 0, qint16(whole.height() - reserved),
                      quint16(whole.width()), quint16(reserved), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t dockType = internAtom(c, "_NET_WM_WINDOW_TYPE_DOCK");
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, bar, internAtom(c, "_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                        32, 1, &dockType);
    const quint32 strut[] = {0, 0, 0, quint32(reserved), 0, 0, 0, 0, 0, 0, 0, quint32(whole.width() - 1)};
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, bar, internAtom(c, "_NET_WM_STRUT_PARTIAL"),
                        XCB_ATOM_CARDINAL, 32, 12, strut);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, bar, internAtom(c, "_NET_WM_STRUT"), XCB_ATOM_CARDINAL,
                        32, 4, strut);
    xcb_map_window(c, bar);
    xcb_flush(c);
    const auto removeBar = qScopeGuard([&] {
        dock.reset();
        // Waited for also after a failure (when QTRY_ no longer waits), for the later tests.
        if (!QTest::qWaitFor([&] { return screen->availableGeometry() == whole; }, waitMs))
            qWarning("the taskbar's reserved edge did not go away");
    });
    QTRY_COMPARE_WITH_TIMEOUT(screen->availableGeometry().height(), 560, waitMs);
    const QRect available = screen->availableGeometry();

    ModelRig rig;
    SettingsWindowController::model = &rig.make();
    const auto drop = qScopeGuard([] {
        SettingsWindowController::shared().reset();
        SettingsWindowController::model = nullptr;
    });
    SettingsWindowController::shared().show();
    FloatingWindow *window = SettingsWindowController::shared().window();
    QTRY_VERIFY_WITH_TIMEOUT(X11Desktop::isViewable(window->windowHandle()), waitMs);
    // The title bar is known once the window manager has framed the window.
    QTRY_VERIFY_WITH_TIMEOUT(window->frameGeometry().height() > window->height(), waitMs);
    QTRY_VERIFY2_WITH_TIMEOUT(available.contains(window->frameGeometry()),
                              qPrintable(u"frame %1,%2 %3x%4 in %5,%6 %7x%8"_qs
                                             .arg(window->frameGeometry().x()).arg(window->frameGeometry().y())
                                             .arg(window->frameGeometry().width()).arg(window->frameGeometry().height())
                                             .arg(available.x()).arg(available.y())
                                             .arg(available.width()).arg(available.height())),
                              waitMs);
    QCOMPARE(window->width(), SettingsView::pageWidth);
    // Opened again from the menu while it is shown: it still fits, where it was.
    const QPoint at = window->frameGeometry().topLeft();
    SettingsWindowController::shared().show();
    QCoreApplication::processEvents();
    QCOMPARE(window->frameGeometry().topLeft(), at);
    QVERIFY(available.contains(window->frameGeometry()));

    // The wheel over the page takes it to its end: the footer comes into view.
    SettingsView *view = SettingsWindowController::shared().view();
    QWidget *footer = view->findChild<QWidget *>(u"footer"_qs);
    QVERIFY(footer);
    const auto footerBottom = [&] { return footer->mapTo(view->viewport(), QPoint(0, footer->height())).y(); };
    QVERIFY(footerBottom() > view->viewport()->height());
    const QPoint middle = view->mapToGlobal(view->rect().center());
    QVERIFY(runXdotool({u"mousemove"_qs, QString::number(middle.x()), QString::number(middle.y())}));
    QTRY_VERIFY_WITH_TIMEOUT(runXdotool({u"click"_qs, u"--repeat"_qs, u"10"_qs, u"5"_qs})
                                 && view->verticalScrollBar()->value() == view->verticalScrollBar()->maximum(),
                             waitMs);
    QVERIFY2(footerBottom() <= view->viewport()->height(),
             qPrintable(u"the footer ends at %1 in a viewport %2 high"_qs.arg(footerBottom()).arg(view->viewport()->height())));
}

DODEDAROV_TEST(X11Test)
#include "X11Test.moc"
