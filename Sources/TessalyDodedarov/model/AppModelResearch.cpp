// Research scheduling and quick checks of suspect words while listening.
#include "model/AppModel.h"

void AppModel::maybeResearch()
{
    // Periodic research of the meeting's background is scheduled here.
}

void AppModel::maybeQuickResearch()
{
    // Quick checks of suspect words are scheduled here.
}
