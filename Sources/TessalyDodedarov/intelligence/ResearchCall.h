#pragma once

#include "intelligence/Research.h"
#include "translation/DeepSeekTransport.h"

#include <QString>

#include <functional>
#include <memory>

// One research or quick-check request on its way through the model transport, with the
// streamed pieces gathered into one reply. A request offering web search that fails is asked
// once more, its reply emptied, without the tool; a failure without it keeps what arrived.
// It reports whether the service refused the tool itself: only then does the meeting model
// switch web search off for the rest of the run. Main thread; the meeting model starts it and
// holds it while it runs.
class ResearchCall final {
public:
    struct Report {
        QString reply;            // what the last request sent streamed before it ended
        bool webSearch = false;   // the call was asked with the web-search tool
        bool refused = false;     // the service refused the tool (not a time-out, key, balance...)
        bool failed = false;      // the last request failed; `reply` holds what arrived
        bool cancelled = false;   // ended by cancel(), which is no failure
    };
    using Finished = std::function<void(const Report &)>;

    ResearchCall() = default;

    // `done` is called exactly once, on the main thread, never from inside start() or cancel().
    // `listener` is handed to each request the call sends.
    static ResearchCall start(const Research::Prompt &prompt, bool webSearch, const QString &key,
                              Finished done, DeepSeekTransport::Listener listener = {});
    void cancel() const;
    bool isFinished() const;

    // A failure that says the service will not take the web-search tool: a 4xx answer other
    // than a rejected key (401), no balance (402), a time-out (408) or a rate limit (429).
    static bool refusesTool(const DeepSeekTransport::Outcome &outcome);

    struct State;

private:
    std::shared_ptr<State> m_state;
};
