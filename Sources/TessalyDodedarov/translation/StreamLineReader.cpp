#include "translation/StreamLineReader.h"

#include <algorithm>

namespace {
// Consumed bytes are dropped from the front once this many have piled up, so a long stream
// neither grows the buffer nor pays a copy per line.
constexpr qsizetype compactAfter = 64 * 1024;
} // namespace

void StreamLineReader::append(QByteArrayView bytes)
{
    m_buffer.append(bytes);
}

std::optional<QString> StreamLineReader::next()
{
    for (;;) {
        if (m_skipLF) {
            if (m_start >= m_buffer.size())
                return std::nullopt; // the byte after the CR has not arrived yet
            if (m_buffer.at(m_start) == '\n') {
                ++m_start;
                m_scan = m_start;
            }
            m_skipLF = false;
        }

        const char *data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        qsizetype end = -1;
        for (qsizetype i = std::max(m_scan, m_start); i < size; ++i) {
            if (data[i] == '\n' || data[i] == '\r') {
                end = i;
                break;
            }
        }
        if (end < 0) {
            m_scan = size;
            if (size - m_start > maxLineBytes) {
                m_overflow = true;
                m_buffer.clear();
                m_start = m_scan = 0;
            } else if (m_start == size) {
                m_buffer.clear();
                m_start = m_scan = 0;
            } else if (m_start >= compactAfter) {
                m_buffer.remove(0, m_start);
                m_scan -= m_start;
                m_start = 0;
            }
            return std::nullopt;
        }

        const qsizetype begin = m_start;
        m_skipLF = data[end] == '\r';
        m_start = m_scan = end + 1;
        const bool dropped = m_overflow || end - begin > maxLineBytes;
        m_overflow = false;
        if (dropped)
            continue;
        return QString::fromUtf8(data + begin, end - begin);
    }
}

std::optional<QString> StreamLineReader::finish()
{
    const bool dropped = m_overflow;
    const QByteArray rest = m_buffer.sliced(std::min(m_start, m_buffer.size()));
    m_buffer.clear();
    m_start = m_scan = 0;
    m_overflow = false;
    m_skipLF = false;
    if (dropped || rest.isEmpty() || rest.size() > maxLineBytes)
        return std::nullopt;
    return QString::fromUtf8(rest);
}
