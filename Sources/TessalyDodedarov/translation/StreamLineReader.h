#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// Cuts a byte stream into text lines as the bytes arrive: a line ends at LF, CRLF or a lone CR
// (also when the CR and the LF arrive in different reads), the line end is dropped, and bytes
// that are not UTF-8 become U+FFFD. A partial line waits for the next read; one that grows past
// `maxLineBytes` is dropped whole, so a server that never ends a line cannot exhaust memory.
class StreamLineReader final {
public:
    static constexpr qsizetype maxLineBytes = 4 * 1024 * 1024;

    void append(QByteArrayView bytes);
    // The next complete line, or nothing until more bytes arrive.
    std::optional<QString> next();
    // At the end of the stream: the last line when it had no line end.
    std::optional<QString> finish();

private:
    QByteArray m_buffer;
    qsizetype m_start = 0;     // where the current line begins
    qsizetype m_scan = 0;      // where the search for the next line end resumes
    bool m_skipLF = false;     // the last line ended in CR: an LF right after it belongs to it
    bool m_overflow = false;   // the current line is being dropped
};
