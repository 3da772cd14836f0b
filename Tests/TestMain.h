#pragma once

#include <QObject>
#include <QTest>

#include <functional>
#include <memory>

// Every test class of a folder registers itself here; the folder's one executable runs them all.
namespace TestRegistry {
using Factory = std::function<std::unique_ptr<QObject>()>;
bool add(const char *name, Factory factory);
}

#define DODEDAROV_TEST(Class)                                                                 \
    static const bool dodedarov_registered_##Class = TestRegistry::add(                       \
        #Class, [] { return std::unique_ptr<QObject>(new Class); });
