#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Finding the browser tab the user is listening to: the tabs worth showing the model, the
// question to ask it, and the reading of its answer. Pure functions; the meeting model drives
// them with the tabs that BrowserTab reads.
struct BrowserTabs final {
    BrowserTabs() = delete;

    struct Tab {
        QUrl url;      // its scheme begins with "http"
        QString title; // trimmed of blanks and tabs, possibly empty

        friend bool operator==(const Tab &, const Tab &) = default;
    };

    struct Prompt {
        QString system;
        QString user;
    };

    struct Answer {
        std::optional<Tab> tab;
        bool decided = false;
    };

    // Host fragments (one with a path) of video, streaming, meeting and talk sites.
    static const QStringList videoSites;

    // Most tabs shown to the model, and what of each tab and of the speech it sees.
    static constexpr qsizetype maxCandidates = 15;
    static constexpr qsizetype maxTitleLength = 120;
    static constexpr qsizetype maxAddressLength = 160;
    static constexpr qsizetype maxRecentLength = 3000;

    // The tab of an address and a title as a browser gave them; none unless the address parses
    // and its scheme begins with "http" (local files and browsers' own pages are not tabs).
    static std::optional<Tab> tab(const QString &address, const QString &title);

    // Tab-list text: one tab per line, its address, a tab character and its title.
    static QList<Tab> parse(const QString &text);
    static bool isVideo(const QUrl &url);
    static QList<Tab> candidates(const QList<Tab> &tabs);
    static Prompt prompt(const QList<Tab> &tabs, const QString &recent);
    // The model's answer about the tabs it was shown.
    static Answer parse(const QString &reply, const QList<Tab> &tabs);
};
