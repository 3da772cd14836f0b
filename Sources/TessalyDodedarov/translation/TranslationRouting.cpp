#include "translation/TranslationRouting.h"

bool TranslationRouting::failed(TranslationService, bool, bool)
{
    router.failures += 1;
    // There is no other service to move the call to.
    return false;
}

void TranslationRouting::succeeded()
{
    router = ServiceRouter{};
}
