#include "display/FontFamilies.h"

#include <QHash>

QString FontFamilies::installed(const QString &family)
{
    static const QHash<QString, QString> table {
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
