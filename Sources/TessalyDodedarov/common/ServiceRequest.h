#pragma once

#include <QNetworkRequest>
#include <QUrl>

// The request every call to the speech and chat services starts from.
//
// Qt's network stack speaks HTTP/2 whenever a TLS server offers it, and its HTTP/2 writer sends a
// request's HEADERS frame and its DATA frame as two separate writes. One request at a time gains
// nothing from HTTP/2's multiplexing, so these calls stay on HTTP/1.1.
//
// Qt 6.4 leaves Nagle's algorithm on for the sockets of its HTTP stack. Over HTTP/1.1 that costs
// nothing on a real path: a body leaves in full-sized segments, whose acknowledgements come at
// once, and only a loopback interface's 64 KiB segments make a 16 KiB piece wait for a delayed one.
class ServiceRequest final {
public:
    static QNetworkRequest to(const QUrl &url);
};
