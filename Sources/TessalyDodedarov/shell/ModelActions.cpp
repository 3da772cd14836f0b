#include "shell/ModelActions.h"

#include "model/AppModel.h"

#if defined(DODEDAROV_MODEL_LIFECYCLE)
void ModelActions::toggle(AppModel &model) { model.toggle(); }
void ModelActions::startOrResume(AppModel &model) { model.startOrResume(); }
void ModelActions::endMeeting(AppModel &model) { model.endMeeting(); }
void ModelActions::newMeeting(AppModel &model) { model.newMeeting(); }
void ModelActions::minimize(AppModel &model) { model.minimize(); }
void ModelActions::adjustFontSize(AppModel &model, double delta) { model.adjustFontSize(delta); }
void ModelActions::quitOnce(AppModel &model) { model.quitOnce(); }
#else
void ModelActions::toggle(AppModel &) {}
void ModelActions::startOrResume(AppModel &) {}
void ModelActions::endMeeting(AppModel &) {}
void ModelActions::newMeeting(AppModel &) {}
// Until the lifecycle lands, hiding the panel is all that minimising does.
void ModelActions::minimize(AppModel &model) { model.setPanelVisible(false); }
void ModelActions::adjustFontSize(AppModel &model, double delta)
{
    model.setAppearance(model.appearance().scaled(delta));
}
void ModelActions::quitOnce(AppModel &) {}
#endif

#if defined(DODEDAROV_MODEL_RECORD)
void ModelActions::openTranscripts(AppModel &model) { model.openTranscripts(); }
#else
void ModelActions::openTranscripts(AppModel &) {}
#endif

#if defined(DODEDAROV_MODEL_DIAGNOSTICS)
void ModelActions::revealDiagnostics(AppModel &model) { model.revealDiagnostics(); }
#else
void ModelActions::revealDiagnostics(AppModel &) {}
#endif
