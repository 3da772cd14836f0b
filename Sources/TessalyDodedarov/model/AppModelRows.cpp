// Row publishing and record-save scheduling.
#include "model/AppModel.h"

void AppModel::publishRows()
{
    // The live caption layout publishes its rows here.
}

void AppModel::scheduleSave()
{
    // The meeting record's debounced save starts here.
}
