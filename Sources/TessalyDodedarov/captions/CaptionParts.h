#pragma once

// Which parts of a caption the user wants to see, stored as five flags under "captionParts".
struct CaptionParts final {
    bool chinese = true;
    bool english = true;
    bool original = true;    // the line in a third language
    bool traditional = false; // Chinese in traditional script
    bool olderEnglish = false; // English kept on older paragraphs

    bool operator==(const CaptionParts &) const = default;

    static void save(const CaptionParts &parts);
    // Shorter stored lists keep their flags; anything that is not a list of at least three
    // flags gives the defaults. Chinese is on whenever English is off.
    static CaptionParts load();
};
