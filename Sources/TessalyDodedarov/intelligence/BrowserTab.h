#pragma once

#include "intelligence/BrowserTabs.h"
#include "platform/BrowserPage.h"
#include "platform/FirefoxSession.h"
#include "platform/FrontWindow.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <array>
#include <functional>
#include <optional>

// The browsers' open tabs and the front tab, for reading the page being listened to and for
// matching the speech to a tab. Firefox is read from its session file, the Chromium family from
// its DevTools listing, the front window from X11. The readers run at once on worker threads,
// never on the caller's: a browser or a file that is slow to answer must not hold up the
// captions. Each reader has `readerLimitMs`; one that runs over gives nothing and its late
// result is dropped. `done` runs once, on the receiver's thread, unless the receiver is gone.
class BrowserTab final {
public:
    BrowserTab() = delete;

    // How long one reader may take.
    static inline int readerLimitMs = 2000;

    // The address of the front tab of the front window, when that is a known browser's.
    static void current(QObject *receiver, std::function<void(std::optional<QUrl>)> done);
    // Every tab of every running browser we can read, the front window's browser first.
    static void allTabs(QObject *receiver, std::function<void(QList<BrowserTabs::Tab>)> done);

    // The Chromium-family browsers in the order their tabs are listed.
    static constexpr std::array<FrontWindow::Browser, 4> chromiumFamily{
        FrontWindow::Browser::chrome, FrontWindow::Browser::chromium, FrontWindow::Browser::edge,
        FrontWindow::Browser::brave};

    // What the readers found in one pass; a reader that failed or ran late left its part empty.
    struct Snapshot {
        std::optional<FrontWindow::Window> front;
        QList<FirefoxSession::Running> firefox;
        std::array<QList<BrowserPage>, chromiumFamily.size()> chromium;
    };

    static std::optional<QUrl> frontTab(const Snapshot &snapshot);
    static QList<BrowserTabs::Tab> tabsOf(const Snapshot &snapshot);
    // The configuration folder of a Chromium-family browser, under the XDG config home.
    static QString configFolder(FrontWindow::Browser browser);
};
