#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// Reading the structured answers of the chat model. The model is asked for one
// JSON object but often wraps it in prose or a code fence, so every reader takes
// the text between the first "{" and the last "}" and checks it is an object.
// Each caller cleans the fields itself: their rules differ.
struct ModelReply final {
    ModelReply() = delete;

    // The JSON object between the first "{" and the last "}" of a reply; none when
    // either brace is missing or out of order, or the text there is not a JSON object.
    static std::optional<QJsonObject> object(const QString &reply);
};
