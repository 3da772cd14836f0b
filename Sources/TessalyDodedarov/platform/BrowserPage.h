#pragma once

#include <QString>

// One open page as a browser reader found it: the address and title exactly as the browser
// keeps them. The readers do not judge them; the caller keeps the addresses it can use.
struct BrowserPage {
    QString url;
    QString title;

    friend bool operator==(const BrowserPage &, const BrowserPage &) = default;
};
