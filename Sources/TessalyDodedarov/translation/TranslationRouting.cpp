#include "translation/TranslationRouting.h"

#include "platform/Keychain.h"

bool TranslationRouting::hasKey(TranslationService)
{
    return Keychain::get(Keychain::deepSeekAccount).has_value();
}

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
