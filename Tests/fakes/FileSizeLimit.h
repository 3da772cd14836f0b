#pragma once

#include <QtGlobal>

#include <csignal>
#include <sys/resource.h>

// Caps the size of the files this process writes while it lives, as a full disk would: a
// write past the cap fails part-way (the signal it raises is ignored) instead of ending the
// process. Permission bits do not stop root; this stops anyone. The previous cap and signal
// handling come back when it goes.
class FileSizeLimit final {
public:
    explicit FileSizeLimit(qint64 bytes);
    ~FileSizeLimit();

    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    // Whether the cap is in force (the process may lower its own limit, so it normally is).
    bool holds() const { return m_holds; }

private:
    rlimit m_saved {};
    void (*m_previousHandler)(int) = SIG_DFL;
    bool m_holds = false;
};
