// The meeting lifecycle: starting, pausing, resuming and ending meetings.
#include "model/AppModel.h"

#include "translation/Keychain.h"

void AppModel::startOrResume()
{
    // Until the full lifecycle lands: listening goes on with the active recognition key.
    if (m_running)
        return;
    const std::optional<QString> key = Keychain::get(Keychain::elevenLabsAccount);
    if (!key)
        return;
    m_engine->start(*key);
    setRunningState(true);
}
