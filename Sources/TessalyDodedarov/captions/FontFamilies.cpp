#include "captions/FontFamilies.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

QString FontFamilies::installed(const QString &family)
{
    static const QHash<QString, QString> table {
        {QStringLiteral("PingFang SC"), QStringLiteral("Noto Sans CJK SC")},
        {QStringLiteral("Heiti SC"), QStringLiteral("Noto Sans CJK SC")},
        {QStringLiteral("Lantinghei SC"), QStringLiteral("Noto Sans CJK SC")},
        {QStringLiteral("Yuanti SC"), QStringLiteral("Noto Sans CJK SC")},
        {QStringLiteral("Songti SC"), QStringLiteral("Noto Serif CJK SC")},
        {QStringLiteral("Kaiti SC"), QStringLiteral("AR PL UKai CN")},
        {QStringLiteral("HanziPen SC"), QStringLiteral("AR PL UKai CN")},
        {QStringLiteral("Helvetica Neue"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")},
        {QStringLiteral("Avenir Next"), QStringLiteral("DejaVu Sans")},
        {QStringLiteral("Georgia"), QStringLiteral("DejaVu Serif")},
        {QStringLiteral("Menlo"), QStringLiteral("DejaVu Sans Mono")},
    };
    return table.value(family, family);
}

QString FontFamilies::chinese(const QString &family)
{
    return installed(family.isEmpty() ? QStringLiteral("PingFang SC") : family);
}

QString FontFamilies::hanFace()
{
    return QStringLiteral("Noto Sans CJK SC");
}

QStringList FontFamilies::withHanFace(QStringList families)
{
    if (!families.contains(hanFace()))
        families.append(hanFace());
    return families;
}

QStringList FontFamilies::plainFamilies(const QStringList &families)
{
    static const QRegularExpression foundry(QStringLiteral("\\s*\\[[^\\]]*\\]$"));
    QStringList plain;
    QSet<QString> seen;
    for (QString family : families) {
        family.remove(foundry);
        if (!family.isEmpty() && !seen.contains(family)) {
            seen.insert(family);
            plain.append(family);
        }
    }
    return plain;
}
