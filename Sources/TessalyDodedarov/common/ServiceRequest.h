#pragma once

#include <QNetworkRequest>
#include <QUrl>

// The request every call to the speech and chat services starts from.
//
// Qt's network stack speaks HTTP/2 whenever a TLS server offers it, and its HTTP/2 writer sends a
// request's HEADERS frame and its DATA frame as two separate writes. One request at a time gains
// nothing from HTTP/2's multiplexing, so these calls stay on HTTP/1.1.
//
// Qt 6.4 also leaves Nagle's algorithm on for the sockets of its HTTP stack and offers no way to
// turn it off. Its HTTP/1.1 writer hands a body over 16 KiB to the socket in 16 KiB pieces, and
// with Nagle on each piece after the first waits for the server's delayed ACK (~40 ms a call).
// ServiceRequest.cpp therefore turns TCP_NODELAY on for every TCP socket this process opens:
// every one of them carries requests and answers that someone is waiting for.
class ServiceRequest final {
public:
    static QNetworkRequest to(const QUrl &url);
};
