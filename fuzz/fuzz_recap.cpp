// libFuzzer target for the running recap answer: a recap is at most `maxLength` characters
// and never blank, and any recap text splits into sections without losing its items.
#include "FuzzInput.h"

#include "intelligence/CharacterKeys.h"
#include "intelligence/Recap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QString reply = QString::fromUtf8(input.rest());

    if (const std::optional<QString> recap = Recap::parse(reply)) {
        check(!recap->trimmed().isEmpty());
        check(CharacterKeys::count(*recap) <= Recap::maxLength);
        for (const Recap::Section &section : Recap::sections(*recap)) {
            for (const QString &item : section.items)
                check(!item.contains(u'\n'));
        }
    }
    // The view splits whatever text the model kept, also a reply that did not parse.
    Recap::sections(reply);
    check(CharacterKeys::count(Recap::trimmed(reply)) <= Recap::maxLength);
    return 0;
}
