#include "fakes/FileSizeLimit.h"

FileSizeLimit::FileSizeLimit(qint64 bytes)
    : m_previousHandler(std::signal(SIGXFSZ, SIG_IGN))
{
    if (getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
        return;
    rlimit small = m_saved;
    small.rlim_cur = rlim_t(bytes);
    m_holds = setrlimit(RLIMIT_FSIZE, &small) == 0;
}

FileSizeLimit::~FileSizeLimit()
{
    if (m_holds)
        setrlimit(RLIMIT_FSIZE, &m_saved);
    std::signal(SIGXFSZ, m_previousHandler);
}
