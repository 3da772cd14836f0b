#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// Rules for reading background material out of the user's notes.
struct BackgroundLogic final {
    BackgroundLogic() = delete;

    // The first web link written in a note, without the sentence punctuation
    // that tends to stick to its end; none when the text holds no usable link.
    static std::optional<QUrl> link(const QString &text);

    // The same link exactly as it is written in the note.
    static std::optional<QString> linkText(const QString &text);
};
