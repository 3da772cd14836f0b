// libFuzzer target for the note extraction answer: a background is never read out of nothing,
// and what it yields goes into the translation prompt and the recogniser's key terms.
#include "FuzzInput.h"

#include "intelligence/BackgroundLogic.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QString reply = QString::fromUtf8(input.rest());
    const std::optional<SessionBackground> background = BackgroundLogic::parse(reply);
    if (!background)
        return 0;
    check(!background->isEmpty());
    for (const GlossaryEntry &term : background->terms)
        check(!term.english.isEmpty());
    background->description();
    background->stableBlock();
    background->promptBlock(QStringLiteral("the budget for cloud storage"));
    for (const QString &term : background->keyterms())
        check(!term.isEmpty());
    return 0;
}
