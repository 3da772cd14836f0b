#pragma once

#include <QNetworkRequest>
#include <QUrl>

// The request every call to the speech and chat services starts from.
//
// Qt's network stack speaks HTTP/2 whenever a TLS server offers it, and its HTTP/2 writer sends a
// request's HEADERS frame and its DATA frame as two separate writes on a socket without
// TCP_NODELAY: the DATA then sits in the kernel until the server's delayed ACK (~40 ms) for
// every request, whatever its size. Over HTTP/1.1 the head and a body of ordinary size leave in
// one write. One request at a time gains nothing from HTTP/2's multiplexing, so these calls stay
// on HTTP/1.1. A body over 16 KiB still leaves in 16 KiB writes and can wait once for the ACK:
// Qt 6.4 offers no supported way to set TCP_NODELAY on the sockets of its HTTP stack.
class ServiceRequest final {
public:
    static QNetworkRequest to(const QUrl &url);
};
