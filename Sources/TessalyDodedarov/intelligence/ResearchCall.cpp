#include "intelligence/ResearchCall.h"

#include "translation/DeepSeek.h"

struct ResearchCall::State {
    Research::Prompt prompt;
    QString key;
    Finished done;
    DeepSeekTransport::Listener listener;
    Report report;
    DeepSeekTransport::Call call;
    bool finished = false;
};

namespace {

using State = ResearchCall::State;
using Outcome = DeepSeekTransport::Outcome;

void finish(const std::shared_ptr<State> &state)
{
    state->finished = true;
    ResearchCall::Finished done = std::move(state->done);
    state->done = nullptr;
    if (done)
        done(state->report);
}

void send(const std::shared_ptr<State> &state, bool tool)
{
    state->report.reply.clear();
    const QByteArray body = DeepSeek::researchBody(state->prompt.system, state->prompt.user, tool);
    state->call = DeepSeekTransport::stream(
        body, state->key,
        [state](const QString &piece) { state->report.reply += piece; },
        [state, tool](const Outcome &outcome) {
            // The transport's hold on this call ends here; so does ours, or the two would keep
            // each other alive.
            state->call = DeepSeekTransport::Call();
            switch (outcome.kind) {
            case Outcome::Kind::success:
                finish(state);
                return;
            case Outcome::Kind::cancelled:
                state->report.cancelled = true;
                finish(state);
                return;
            case Outcome::Kind::failure:
            case Outcome::Kind::networkError:
                break;
            }
            if (tool) {
                state->report.refused = ResearchCall::refusesTool(outcome);
                send(state, false);
                return;
            }
            state->report.failed = true;
            finish(state);
        },
        state->listener);
}

} // namespace

ResearchCall ResearchCall::start(const Research::Prompt &prompt, bool webSearch, const QString &key,
                                 Finished done, DeepSeekTransport::Listener listener)
{
    auto state = std::make_shared<State>();
    state->prompt = prompt;
    state->key = key;
    state->done = std::move(done);
    state->listener = std::move(listener);
    state->report.webSearch = webSearch;
    send(state, webSearch);
    ResearchCall call;
    call.m_state = state;
    return call;
}

void ResearchCall::cancel() const
{
    if (m_state && !m_state->finished)
        m_state->call.cancel();
}

bool ResearchCall::isFinished() const
{
    return !m_state || m_state->finished;
}

bool ResearchCall::refusesTool(const Outcome &outcome)
{
    if (outcome.kind != Outcome::Kind::failure)
        return false;
    const int status = outcome.httpStatus;
    if (status < 400 || status > 499)
        return false;
    return status != 401 && status != 402 && status != 408 && status != 429;
}
