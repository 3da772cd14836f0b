#pragma once

#include "translation/TranslationService.h"

#include <QString>

#include <functional>
#include <optional>

// Failed calls since the last successful one. `backupUntil` (uptime seconds) would hold a switch
// to a backup service; with one service it stays empty.
struct ServiceRouter {
    int failures = 0;
    std::optional<double> backupUntil;
};

// Where the transport and its callers meet: which service the next call uses, a small failure
// record for the process, and what a caller hears about the calls it makes. Touched on the main
// thread only.
class TranslationRouting final {
public:
    TranslationRouting() = delete;

    // What one caller hears about its own calls besides their text: the meeting model counts
    // requests and tokens and shows the last outcome. The caller hands it to every call it
    // makes, so two callers never hear each other's calls; an empty hook is skipped.
    struct Listener {
        // right before every POST, resends included
        std::function<void()> request;
        // prompt, completion and cached prompt tokens of every streamed line that carries usage
        std::function<void(int, int, int)> usage;
        // Outcome of every call that was not cancelled: no text on success, else the message.
        std::function<void(TranslationService, const std::optional<QString> &)> result;
        // A move of calls to another service and its note for the user. With one service the
        // router never moves them, so nothing calls these yet.
        std::function<void(const std::optional<QString> &)> routeChanged;
        std::function<void()> failover;
    };

    // The failure record and the note describe the service, which every caller shares: they
    // are the process's, not one caller's.
    static inline ServiceRouter router;
    static inline std::optional<QString> note; // a route note for the user; never set

    static TranslationService service() { return TranslationService::deepSeek; }
    // Whether a key is stored for the service: one translation key serves every service there is.
    static bool hasKey(TranslationService service);

    // Records one failed call and answers whether to repeat it elsewhere: never, with one service.
    static bool failed(TranslationService service, bool fatal, bool produced);
    // A call succeeded: the failure record starts again.
    static void succeeded();
};
