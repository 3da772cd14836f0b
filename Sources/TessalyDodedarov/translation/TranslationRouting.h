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

// Where the transport and the meeting model meet: which service the next call uses, the request
// and usage hooks the model installs, and a small failure record for the process. Touched on the
// main thread only.
class TranslationRouting final {
public:
    TranslationRouting() = delete;

    static inline ServiceRouter router;
    static inline std::optional<QString> note; // a route note for the user; never set
    static inline std::function<bool(TranslationService)> hasKey = [](TranslationService) {
        return false;
    };
    static inline std::function<void(const std::optional<QString> &)> onChange;
    static inline std::function<void()> onFailover;
    // prompt, completion and cached prompt tokens of every streamed line that carries usage
    static inline std::function<void(int, int, int)> onUsage;
    // right before every POST, resends included
    static inline std::function<void()> onRequest;

    static TranslationService service() { return TranslationService::deepSeek; }

    // Records one failed call and answers whether to repeat it elsewhere: never, with one service.
    static bool failed(TranslationService service, bool fatal, bool produced);
    // A call succeeded: the failure record starts again.
    static void succeeded();
};
