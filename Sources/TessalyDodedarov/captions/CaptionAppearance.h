#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// One sRGB colour, components 0…1.
struct RGBA final {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 1;

    bool operator==(const RGBA &) const = default;

    // Relative luminance (alpha ignored), with the 0.03928 linearisation threshold.
    double luminance() const;
};

// The look of the captions: sizes, families, colours, outline and the preset it came from.
// The meeting model owns the current value and stores it as compact JSON; the caption panel
// and the history draw with `effective()`. A plain value.
struct CaptionAppearance final {
    double chineseSize = 26;
    double englishSize = 18;
    QString chineseFont;
    QString englishFont = QStringLiteral("Avenir Next");
    RGBA chineseColor {0.92, 0.96, 1.0, 1.0};
    RGBA englishColor {0.35, 0.85, 0.95, 1.0};
    RGBA background {0.04, 0.10, 0.22, 0.90};
    bool outline = false;
    std::optional<QString> skin = QStringLiteral("tech");

    static constexpr double minSize = 12;
    static constexpr double maxSize = 60;

    bool operator==(const CaptionAppearance &) const = default;

    // Resized for the font-size keys: the Chinese size moves by delta within 12…60, the English
    // size follows by the ratio of the unlimited new size to the old one.
    CaptionAppearance scaled(double delta) const;
    // The look with text colours that would be unreadable on an opaque background replaced.
    CaptionAppearance effective() const;
    // Underline colour for highlighted terms.
    RGBA highlightColor() const;

    // Compact JSON object; "skin" only when the look has one.
    QJsonObject toJson() const;
    QByteArray encoded() const;
    // All or nothing: every key but "skin" must be present with its type. A hand-edited value
    // out of range is brought back into it (sizes 12…60, components 0…1), so no size of 0 or
    // 1e9 reaches the fonts and the layout.
    static std::optional<CaptionAppearance> fromJson(const QJsonObject &object);
};

// A named preset look.
struct CaptionSkin final {
    QString id;
    QString title;
    CaptionAppearance appearance;

    bool operator==(const CaptionSkin &) const = default;

    static const QList<CaptionSkin> &all();
    static std::optional<CaptionSkin> named(const std::optional<QString> &id);
};

// One entry of a font menu: the name shown and the family stored ("" for the system font).
struct FontChoice final {
    QString name;
    QString family;

    bool operator==(const FontChoice &) const = default;

    static const QList<FontChoice> &chinese();
    static const QList<FontChoice> &english();
};
