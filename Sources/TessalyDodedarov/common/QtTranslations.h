#pragma once

class QTranslator;

// Qt's own texts (standard dialogs, the context menu of text fields) in Simplified Chinese,
// like the rest of the interface, whatever the system's locale.
class QtTranslations final {
public:
    QtTranslations() = delete;

    // Loads Qt's base translations from Qt's translation folder and installs them in the
    // application, which owns the translator; nullptr when they are not installed on this
    // system (Qt's English texts stay). Deleting the translator takes it out again.
    static QTranslator *install();
};
