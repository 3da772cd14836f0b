#include "platform/KeychainAnswers.h"

KeychainAnswers *KeychainAnswers::shared()
{
    // Never deleted: a query thread may still be finishing when the application object goes.
    static KeychainAnswers *const instance = new KeychainAnswers;
    return instance;
}
