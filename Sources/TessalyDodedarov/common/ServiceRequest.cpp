#include "common/ServiceRequest.h"

#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

QNetworkRequest ServiceRequest::to(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    return request;
}

// Qt opens its sockets with the C library's socket(); this definition comes first in the
// process's symbol lookup, so Qt's calls reach it, and it passes them on to the C library's own.
// It lives beside ServiceRequest::to so that every program that makes service requests links it.
extern "C" int socket(int domain, int type, int protocol) noexcept
{
    using SocketCall = int (*)(int, int, int);
    static const auto next = reinterpret_cast<SocketCall>(dlsym(RTLD_NEXT, "socket"));
    if (next == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    const int descriptor = next(domain, type, protocol);
    const bool tcp = (domain == AF_INET || domain == AF_INET6)
        && (type & ~(SOCK_NONBLOCK | SOCK_CLOEXEC)) == SOCK_STREAM;
    if (descriptor >= 0 && tcp) {
        const int savedErrno = errno;
        const int on = 1;
        setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        errno = savedErrno;
    }
    return descriptor;
}
