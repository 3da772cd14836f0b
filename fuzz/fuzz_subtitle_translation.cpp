// libFuzzer target for the batch subtitle translation answer: exactly as many translations
// as cues were sent, or none at all.
#include "FuzzInput.h"

#include "records/Subtitles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const int count = input.byte() % 40;
    const QString reply = QString::fromUtf8(input.rest());
    if (const std::optional<QStringList> translations = Subtitles::parseTranslations(reply, count))
        check(translations->size() == count);
    return 0;
}
