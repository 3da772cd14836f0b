#include "captions/CaptionAppearance.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <cmath>

namespace {

double linear(double c)
{
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double contrast(double l1, double l2)
{
    const double hi = std::max(l1, l2);
    const double lo = std::min(l1, l2);
    return (hi + 0.05) / (lo + 0.05);
}

const RGBA darkText {0.08, 0.08, 0.10, 1.0};
const RGBA lightText {0.95, 0.97, 1.0, 1.0};

RGBA readable(const RGBA &text, double backgroundLuminance)
{
    if (contrast(text.luminance(), backgroundLuminance) >= 3.0)
        return text;
    const double dark = contrast(darkText.luminance(), backgroundLuminance);
    const double light = contrast(lightText.luminance(), backgroundLuminance);
    return dark > light ? darkText : lightText;
}

double distance(const RGBA &x, const RGBA &y)
{
    return std::abs(x.r - y.r) + std::abs(x.g - y.g) + std::abs(x.b - y.b);
}

QJsonObject colourJson(const RGBA &c)
{
    return QJsonObject {{QStringLiteral("r"), c.r}, {QStringLiteral("g"), c.g},
                        {QStringLiteral("b"), c.b}, {QStringLiteral("a"), c.a}};
}

std::optional<double> number(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isDouble())
        return std::nullopt;
    return value.toDouble();
}

std::optional<RGBA> colour(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject c = value.toObject();
    const auto r = number(c, QStringLiteral("r"));
    const auto g = number(c, QStringLiteral("g"));
    const auto b = number(c, QStringLiteral("b"));
    const auto a = number(c, QStringLiteral("a"));
    if (!r || !g || !b || !a)
        return std::nullopt;
    const auto unit = [](double x) { return std::clamp(x, 0.0, 1.0); };
    return RGBA {unit(*r), unit(*g), unit(*b), unit(*a)};
}

CaptionSkin skin(const char *id, const char *title, const QString &chineseFont,
                 const QString &englishFont, RGBA chinese, RGBA english, RGBA background)
{
    CaptionAppearance look;
    look.chineseSize = 26;
    look.englishSize = 18;
    look.chineseFont = chineseFont;
    look.englishFont = englishFont;
    look.chineseColor = chinese;
    look.englishColor = english;
    look.background = background;
    look.outline = false;
    look.skin = QString::fromUtf8(id);
    return {QString::fromUtf8(id), QString::fromUtf8(title), look};
}

} // namespace

double RGBA::luminance() const
{
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

CaptionAppearance CaptionAppearance::scaled(double delta) const
{
    CaptionAppearance out = *this;
    const double n = chineseSize + delta;
    out.chineseSize = std::clamp(n, minSize, maxSize);
    const double ratio = chineseSize >= 1 ? n / chineseSize : n;
    out.englishSize = std::clamp(std::round(englishSize * ratio), minSize, maxSize);
    return out;
}

CaptionAppearance CaptionAppearance::effective() const
{
    if (background.a < 0.5)
        return *this;
    CaptionAppearance out = *this;
    const double bg = background.luminance();
    out.chineseColor = readable(chineseColor, bg);
    out.englishColor = readable(englishColor, bg);
    return out;
}

RGBA CaptionAppearance::highlightColor() const
{
    const bool light = background.a >= 0.5 && background.luminance() > 0.5;
    const RGBA first = light ? RGBA {0.8, 0.33, 0.0, 1.0} : RGBA {1.0, 0.76, 0.2, 1.0};
    const RGBA second = light ? RGBA {0.05, 0.5, 0.2, 1.0} : RGBA {0.4, 0.95, 0.55, 1.0};
    const RGBA text = effective().chineseColor;
    return distance(first, text) >= distance(second, text) ? first : second;
}

QJsonObject CaptionAppearance::toJson() const
{
    QJsonObject object {
        {QStringLiteral("chineseSize"), chineseSize},
        {QStringLiteral("englishSize"), englishSize},
        {QStringLiteral("chineseFont"), chineseFont},
        {QStringLiteral("englishFont"), englishFont},
        {QStringLiteral("chineseColor"), colourJson(chineseColor)},
        {QStringLiteral("englishColor"), colourJson(englishColor)},
        {QStringLiteral("background"), colourJson(background)},
        {QStringLiteral("outline"), outline},
    };
    if (skin)
        object.insert(QStringLiteral("skin"), *skin);
    return object;
}

QByteArray CaptionAppearance::encoded() const
{
    return QJsonDocument(toJson()).toJson(QJsonDocument::Compact);
}

std::optional<CaptionAppearance> CaptionAppearance::fromJson(const QJsonObject &object)
{
    const auto chinese = number(object, QStringLiteral("chineseSize"));
    const auto english = number(object, QStringLiteral("englishSize"));
    const QJsonValue chineseFont = object.value(QStringLiteral("chineseFont"));
    const QJsonValue englishFont = object.value(QStringLiteral("englishFont"));
    const auto chineseColor = colour(object, QStringLiteral("chineseColor"));
    const auto englishColor = colour(object, QStringLiteral("englishColor"));
    const auto background = colour(object, QStringLiteral("background"));
    const QJsonValue outline = object.value(QStringLiteral("outline"));
    const QJsonValue skin = object.value(QStringLiteral("skin"));
    if (!chinese || !english || !chineseFont.isString() || !englishFont.isString() || !chineseColor
        || !englishColor || !background || !outline.isBool())
        return std::nullopt;
    if (!skin.isUndefined() && !skin.isNull() && !skin.isString())
        return std::nullopt;

    CaptionAppearance look;
    look.chineseSize = std::clamp(*chinese, minSize, maxSize);
    look.englishSize = std::clamp(*english, minSize, maxSize);
    look.chineseFont = chineseFont.toString();
    look.englishFont = englishFont.toString();
    look.chineseColor = *chineseColor;
    look.englishColor = *englishColor;
    look.background = *background;
    look.outline = outline.toBool();
    look.skin = skin.isString() ? std::optional<QString>(skin.toString()) : std::nullopt;
    return look;
}

const QList<CaptionSkin> &CaptionSkin::all()
{
    static const QList<CaptionSkin> skins {
        skin("tech", "科技蓝", QString(), QStringLiteral("Avenir Next"), {0.92, 0.96, 1.0, 1.0},
             {0.35, 0.85, 0.95, 1.0}, {0.04, 0.10, 0.22, 0.90}),
        skin("classic", "经典深色", QString(), QString(), {1.0, 1.0, 1.0, 1.0},
             {0.78, 0.78, 0.78, 1.0}, {0.0, 0.0, 0.0, 0.78}),
        skin("cinema", "影院黄字", QStringLiteral("Heiti SC"), QStringLiteral("Helvetica Neue"),
             {1.0, 0.85, 0.25, 1.0}, {0.85, 0.85, 0.85, 1.0}, {0.0, 0.0, 0.0, 0.85}),
        skin("eyecare", "护眼", QStringLiteral("Kaiti SC"), QStringLiteral("Georgia"),
             {0.30, 0.22, 0.12, 1.0}, {0.45, 0.38, 0.27, 1.0}, {0.95, 0.92, 0.80, 0.96}),
    };
    return skins;
}

std::optional<CaptionSkin> CaptionSkin::named(const std::optional<QString> &id)
{
    if (!id)
        return std::nullopt;
    for (const CaptionSkin &s : all())
        if (s.id == *id)
            return s;
    return std::nullopt;
}

const QList<FontChoice> &FontChoice::chinese()
{
    static const QList<FontChoice> list {
        {QStringLiteral("系统默认（苹方）"), QString()},
        {QStringLiteral("黑体"), QStringLiteral("Heiti SC")},
        {QStringLiteral("宋体"), QStringLiteral("Songti SC")},
        {QStringLiteral("楷体"), QStringLiteral("Kaiti SC")},
        {QStringLiteral("圆体"), QStringLiteral("Yuanti SC")},
        {QStringLiteral("兰亭黑"), QStringLiteral("Lantinghei SC")},
        {QStringLiteral("翩翩体"), QStringLiteral("HanziPen SC")},
    };
    return list;
}

const QList<FontChoice> &FontChoice::english()
{
    static const QList<FontChoice> list {
        {QStringLiteral("系统默认（San Francisco）"), QString()},
        {QStringLiteral("Helvetica Neue"), QStringLiteral("Helvetica Neue")},
        {QStringLiteral("Avenir Next"), QStringLiteral("Avenir Next")},
        {QStringLiteral("Georgia"), QStringLiteral("Georgia")},
        {QStringLiteral("Times New Roman"), QStringLiteral("Times New Roman")},
        {QStringLiteral("Menlo（等宽）"), QStringLiteral("Menlo")},
    };
    return list;
}
