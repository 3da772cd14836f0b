#include "TestMain.h"

#include <QStringList>

#include <pthread.h>
#include <signal.h>
#include <vector>

#ifdef DODEDAROV_GUI_TESTS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

namespace {

struct Entry {
    QString name;
    TestRegistry::Factory factory;
};

std::vector<Entry> &entries()
{
    static std::vector<Entry> list;
    return list;
}

}

bool TestRegistry::add(const char *name, Factory factory)
{
    entries().push_back({QString::fromLatin1(name), std::move(factory)});
    return true;
}

// A first argument that names a registered class runs only that class; the rest go to QTest.
int main(int argc, char **argv)
{
    // A write to a socket whose peer has gone must fail with EPIPE, as it does in the program
    // (Qt's socket engine ignores SIGPIPE). QtTest, though, puts its fatal-signal handler on
    // SIGPIPE for every test class it runs, over an ignored one too: a fake server answering a
    // client that has just closed then stops the test thread in the middle of a test while a
    // debugger prints a stack trace, and the test's waits run out meanwhile. Blocked in every
    // thread (they all start from this one), the signal is never delivered and the write only
    // fails, whatever handler is in place.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    TestApplication app(argc, argv);
    QStringList args = app.arguments();
    QString only;
    if (args.size() > 1) {
        for (const Entry &entry : entries()) {
            if (entry.name == args.at(1)) {
                only = entry.name;
                args.removeAt(1);
                break;
            }
        }
    }
    int failures = 0;
    for (const Entry &entry : entries()) {
        if (!only.isEmpty() && entry.name != only)
            continue;
        std::unique_ptr<QObject> test = entry.factory();
        failures += QTest::qExec(test.get(), args);
    }
    return failures == 0 ? 0 : 1;
}
