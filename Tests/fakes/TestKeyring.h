// The test session's GNOME Keyring, driven over its Secret Service interface: the default
// collection, locking it, and unlocking it with the password scripts/with-test-env gave it.
#pragma once

#include <QString>

namespace TestKeyring {

// The object path of the default collection, or "" without a Secret Service.
QString defaultCollection();
bool lock();
// GNOME Keyring unlocks without a prompt through its own interface, given the password.
bool unlock();

} // namespace TestKeyring
