#pragma once

// What every fuzz target shares: cutting the fuzzer's bytes into the parts a reader takes, and
// stopping the run when a reader breaks one of its own promises.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// A promise broken is a finding like a crash: abort, so libFuzzer keeps the input.
inline void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The input read front to back: single bytes for choices and sizes, then parts that end at a
// zero byte (the last part takes the rest), so seed files stay plain text with "\0" between parts.
class FuzzInput final {
public:
    FuzzInput(const uint8_t *data, size_t size)
        : m_bytes(reinterpret_cast<const char *>(data), qsizetype(size))
    {
    }

    // The next byte, or 0 once the input is used up.
    uint8_t byte()
    {
        if (m_at >= m_bytes.size())
            return 0;
        return uint8_t(m_bytes[m_at++]);
    }

    QByteArray part()
    {
        const QByteArrayView rest = m_bytes.sliced(m_at);
        const qsizetype end = rest.indexOf('\0');
        if (end < 0) {
            m_at = m_bytes.size();
            return rest.toByteArray();
        }
        m_at += end + 1;
        return rest.first(end).toByteArray();
    }

    QString text() { return QString::fromUtf8(part()); }

    QByteArray rest()
    {
        const QByteArrayView rest = m_bytes.sliced(m_at);
        m_at = m_bytes.size();
        return rest.toByteArray();
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_at = 0;
};
