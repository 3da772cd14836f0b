#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QObject;

// What the program knows about itself: the running version, the maker's site and its pages,
// the feedback mail, the release record the maker publishes and the comparison of dotted
// versions. No widgets: the meeting model records the version, the settings window shows the
// rest. Everything here is a static; the update fetch is the only part that waits on anything.
class AppInfo final {
public:
    AppInfo() = delete;

    // The newest published release, as read from the maker's "/version.json".
    struct Release {
        QString version; // never empty
        QString url;     // the download page as published; see releaseLink
        std::optional<QString> notes;

        // Absent for anything but a JSON object whose "version" is a non-empty string.
        static std::optional<Release> parse(const QByteArray &data);
    };

    // What the about section shows after an update check: the message, and the link it leads
    // to when there is one (only for a newer release).
    struct UpdateOutcome {
        QString message;
        std::optional<QUrl> url;
    };

    // The maker's site, one constant: tests point it at a loopback fake.
    static inline QString siteURL = QStringLiteral("https://tessalab.example");
    static inline QString feedbackAddress = QStringLiteral("feedback@tessalab.example");
    // Transfer time-out of the update fetch; tests shorten it.
    static inline int updateTimeoutMs = 10000;
    // A body longer than this is not a release record.
    static constexpr qint64 maxReleaseBytes = 64 * 1024;
    // Where the system line reads the distribution's name; tests point it at a fixture.
    static inline QString osReleasePath = QStringLiteral("/etc/os-release");

    // The application's version, or "0.6.0" when none is set; read on every call.
    static QString version();

    static QString rootPage();      // siteURL + "/"
    static QString guidePage();     // siteURL + "/guide.html"
    static QString privacyPage();   // siteURL + "/privacy.html"
    static QString changelogPage(); // siteURL + "/changelog.html"

    // A mailto link to the feedback address with a subject and a body carrying the version and
    // the given system line, every value percent-encoded.
    static std::optional<QUrl> feedbackURL(const QString &system);

    // "Linux 6.1.0 (Debian GNU/Linux 12 (bookworm))" for this machine.
    static QString systemLine();
    // The same from a kernel release ("6.1.0-18-amd64") and an os-release file's text.
    static QString systemLine(const QString &kernelRelease, const QByteArray &osRelease);

    // Whether candidate is a strictly higher dotted version than current.
    static bool isNewer(const QString &candidate, const QString &current);

    // The page a release links to: its url only when it is an absolute http(s) URL with a host,
    // so a broken or hostile record can never make the app open a file or another scheme;
    // otherwise the changelog page.
    static QUrl releaseLink(const QString &url);

    // The about section's message for the outcome of one check (no release: unreachable or bad).
    static UpdateOutcome describe(const std::optional<Release> &release);

    // One GET of siteURL + "/version.json", bypassing any cache. `done` runs on the caller's
    // thread with the release, or with none after any failure; it is dropped when `context`
    // is gone by then. The fetch itself is never cancelled.
    static void fetchRelease(QObject *context, std::function<void(std::optional<Release>)> done);
};
