#pragma once

class AppModel;

// The model's meeting operations as the menu, the settings page and the delegate call them.
// They live in the model's lifecycle, record and diagnostics files; while one of those files is
// not part of the build the call here does nothing, so the shell builds and runs either way.
// The build defines DODEDAROV_MODEL_LIFECYCLE, DODEDAROV_MODEL_RECORD and
// DODEDAROV_MODEL_DIAGNOSTICS when the files are there.
class ModelActions final {
public:
    ModelActions() = delete;

    static void toggle(AppModel &model);
    static void startOrResume(AppModel &model);
    static void endMeeting(AppModel &model);
    static void newMeeting(AppModel &model);
    static void minimize(AppModel &model);
    static void adjustFontSize(AppModel &model, double delta);
    static void quitOnce(AppModel &model);
    static void openTranscripts(AppModel &model);
    static void revealDiagnostics(AppModel &model);
};
