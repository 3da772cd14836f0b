// The browser page of a meeting: reading it into a note and matching the tab being listened to.
#include "model/AppModel.h"

void AppModel::maybeMatchBrowserTab()
{
    // Matching the browser tab being listened to is scheduled here.
}

void AppModel::readCurrentPage()
{
    // The front browser page is read into an automatic note here.
}
