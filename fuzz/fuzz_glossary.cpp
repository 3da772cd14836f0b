// libFuzzer target for importing a pasted or loaded term list: every entry has an English
// term of at most 100 characters with a letter and no Chinese, at most 80 characters of
// Chinese, and no two entries share an English term's comparison form.
#include "FuzzInput.h"

#include "translation/Glossary.h"

#include <QSet>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QString text = QString::fromUtf8(input.rest());
    const QList<GlossaryEntry> entries = Glossary::parse(text);
    QSet<QString> terms;
    for (const GlossaryEntry &entry : entries) {
        check(!entry.english.isEmpty() && Glossary::length(entry.english) <= 100);
        check(!Glossary::containsChinese(entry.english));
        check(Glossary::length(entry.chinese) <= 80);
        check(entry.english == Glossary::trimBlanks(entry.english));
        const QString key = Glossary::normalize(entry.english);
        check(!terms.contains(key));
        terms.insert(key);
        entry.aliases();
    }
    check(entries.size() <= Glossary::rows(text).size());
    Glossary::keyterms(entries, {}, 50);
    const QList<GlossaryEntry> found = Glossary::matches(entries, text.left(400), 8);
    check(found.size() <= 8);
    return 0;
}
