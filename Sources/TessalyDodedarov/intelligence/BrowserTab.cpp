#include "intelligence/BrowserTab.h"

#include "platform/ChromiumDevTools.h"

#include <QFutureWatcher>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <memory>

namespace {

using Snapshot = BrowserTab::Snapshot;

QList<BrowserTabs::Tab> tabsOfPages(const QList<BrowserPage> &pages)
{
    QList<BrowserTabs::Tab> tabs;
    for (const BrowserPage &page : pages) {
        if (const std::optional<BrowserTabs::Tab> tab = BrowserTabs::tab(page.url, page.title))
            tabs.append(*tab);
    }
    return tabs;
}

// One pass of every reader on behalf of one caller. Its watchers and timer hang from a context
// object that is the receiver's child on the receiver's thread: when the pass delivers, or the
// receiver goes, the context goes too, and a reader still running reports to nobody.
struct Pass {
    Snapshot snapshot;
    int remaining = 0;
    bool delivered = false;
};

template <typename Result, typename Store>
void launch(QObject *context, const std::shared_ptr<Pass> &pass, const std::function<void()> &deliver,
            std::function<Result()> reader, Store store)
{
    auto *watcher = new QFutureWatcher<Result>(context);
    ++pass->remaining;
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, pass, deliver, store] {
        if (pass->delivered)
            return;
        store(pass->snapshot, watcher->result());
        if (--pass->remaining == 0)
            deliver();
    });
    watcher->setFuture(QtConcurrent::run(std::move(reader)));
}

void startPass(QObject *receiver, std::function<void(const Snapshot &)> finish)
{
    auto *context = new QObject(receiver);
    auto pass = std::make_shared<Pass>();
    // The settings are read here, on the receiver's thread, never by the workers.
    const int limitMs = BrowserTab::readerLimitMs;
    const QString display = FrontWindow::displayName;
    const QString firefoxFolder = FirefoxSession::folder();
    const std::function<void()> deliver = [receiver, context, pass, finish] {
        if (pass->delivered)
            return;
        pass->delivered = true;
        context->deleteLater();
        // Posted, not called: `done` may delete the receiver, and with it the watcher or timer
        // whose signal is being delivered right now.
        QMetaObject::invokeMethod(
            receiver, [finish, snapshot = std::move(pass->snapshot)] { finish(snapshot); },
            Qt::QueuedConnection);
    };

    launch<std::optional<FrontWindow::Window>>(
        context, pass, deliver, [display] { return FrontWindow::read(display); },
        [](Snapshot &s, const std::optional<FrontWindow::Window> &front) { s.front = front; });
    launch<QList<FirefoxSession::Running>>(
        context, pass, deliver, [firefoxFolder] { return FirefoxSession::read(firefoxFolder); },
        [](Snapshot &s, const QList<FirefoxSession::Running> &running) { s.firefox = running; });
    for (size_t i = 0; i < BrowserTab::chromiumFamily.size(); ++i) {
        const QString folder = ChromiumDevTools::folderOf(BrowserTab::configFolder(BrowserTab::chromiumFamily[i]));
        // The listing gives up on its own at the limit, so no worker outlives a pass for long.
        launch<QList<BrowserPage>>(
            context, pass, deliver, [folder, limitMs] { return ChromiumDevTools::read(folder, limitMs); },
            [i](Snapshot &s, const QList<BrowserPage> &pages) { s.chromium[i] = pages; });
    }

    auto *limit = new QTimer(context);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, context, deliver);
    limit->start(limitMs);
}

// Starts a pass on the receiver's own thread, whichever thread asks.
void gather(QObject *receiver, std::function<void(const Snapshot &)> finish)
{
    if (!receiver)
        return;
    if (QThread::currentThread() == receiver->thread()) {
        startPass(receiver, std::move(finish));
        return;
    }
    QPointer<QObject> target(receiver);
    QMetaObject::invokeMethod(
        receiver, [target, finish] { if (target) startPass(target, finish); }, Qt::QueuedConnection);
}

} // namespace

QString BrowserTab::configFolder(FrontWindow::Browser browser)
{
    switch (browser) {
    case FrontWindow::Browser::chrome:
        return QStringLiteral("google-chrome");
    case FrontWindow::Browser::chromium:
        return QStringLiteral("chromium");
    case FrontWindow::Browser::edge:
        return QStringLiteral("microsoft-edge");
    case FrontWindow::Browser::brave:
        return QStringLiteral("BraveSoftware/Brave-Browser");
    case FrontWindow::Browser::firefox:
        break;
    }
    return {};
}

std::optional<QUrl> BrowserTab::frontTab(const Snapshot &snapshot)
{
    if (!snapshot.front)
        return std::nullopt;
    const FrontWindow::Window &window = *snapshot.front;

    std::optional<BrowserPage> page;
    if (window.browser == FrontWindow::Browser::firefox) {
        // The profile whose Firefox owns the window; with several running and no match, the
        // first is the best guess there is.
        const FirefoxSession::Running *profile = nullptr;
        for (const FirefoxSession::Running &running : snapshot.firefox) {
            if (running.pid == window.pid && window.pid > 0) {
                profile = &running;
                break;
            }
        }
        if (!profile && !snapshot.firefox.isEmpty())
            profile = &snapshot.firefox.first();
        if (profile)
            page = profile->session.front;
    } else {
        // A Chromium window's title is the active page's title, " - ", and the browser's name.
        // The longest fitting title wins, so "Talk" does not shadow "Talk - Part 2".
        for (size_t i = 0; i < chromiumFamily.size(); ++i) {
            if (chromiumFamily[i] != window.browser)
                continue;
            for (const BrowserPage &candidate : snapshot.chromium[i]) {
                if (!window.title.startsWith(candidate.title + QStringLiteral(" - ")))
                    continue;
                if (!page || candidate.title.size() > page->title.size())
                    page = candidate;
            }
        }
    }
    if (!page)
        return std::nullopt;
    const std::optional<BrowserTabs::Tab> tab = BrowserTabs::tab(page->url, page->title);
    return tab ? std::optional<QUrl>(tab->url) : std::nullopt;
}

QList<BrowserTabs::Tab> BrowserTab::tabsOf(const Snapshot &snapshot)
{
    QList<BrowserTabs::Tab> firefox;
    for (const FirefoxSession::Running &running : snapshot.firefox)
        firefox.append(tabsOfPages(running.session.tabs));

    QList<BrowserTabs::Tab> front;
    QList<BrowserTabs::Tab> others;
    const auto add = [&](FrontWindow::Browser browser, const QList<BrowserTabs::Tab> &tabs) {
        (snapshot.front && snapshot.front->browser == browser ? front : others).append(tabs);
    };
    add(FrontWindow::Browser::firefox, firefox);
    for (size_t i = 0; i < chromiumFamily.size(); ++i)
        add(chromiumFamily[i], tabsOfPages(snapshot.chromium[i]));
    front.append(others);
    return front;
}

void BrowserTab::current(QObject *receiver, std::function<void(std::optional<QUrl>)> done)
{
    gather(receiver, [done = std::move(done)](const Snapshot &snapshot) { done(frontTab(snapshot)); });
}

void BrowserTab::allTabs(QObject *receiver, std::function<void(QList<BrowserTabs::Tab>)> done)
{
    gather(receiver, [done = std::move(done)](const Snapshot &snapshot) { done(tabsOf(snapshot)); });
}
