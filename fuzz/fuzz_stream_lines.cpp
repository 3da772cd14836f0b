// libFuzzer target for the readers of the streamed answer: the line cutter fed in arbitrary
// pieces, then every line through the delta and usage readers and the two-line answer splitters.
// However the bytes are cut, the lines must be those of a plain reading of the whole stream.
#include "translation/DeepSeek.h"
#include "translation/StreamLineReader.h"

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QStringList readAll(QByteArrayView bytes, const uint8_t *cuts, size_t cutCount)
{
    StreamLineReader reader;
    QStringList lines;
    qsizetype at = 0;
    size_t cut = 0;
    while (at < bytes.size()) {
        // Piece lengths come from the input itself, so the fuzzer explores the splits too.
        const qsizetype length = cutCount ? 1 + cuts[cut++ % cutCount] % 64 : bytes.size();
        const qsizetype take = std::min(length, bytes.size() - at);
        reader.append(bytes.sliced(at, take));
        at += take;
        while (const auto line = reader.next())
            lines << *line;
    }
    if (const auto last = reader.finish())
        lines << *last;
    return lines;
}

// The plain reading of the whole stream at once, to hold the incremental reader against.
QStringList referenceLines(QByteArrayView bytes)
{
    QStringList lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n' && bytes[i] != '\r')
            continue;
        lines << QString::fromUtf8(bytes.sliced(begin, i - begin));
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            ++i;
        begin = i + 1;
    }
    if (begin < bytes.size())
        lines << QString::fromUtf8(bytes.sliced(begin));
    return lines;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t cutCount = std::min<size_t>(data[0] % 8, size - 1);
    const uint8_t *cuts = data + 1;
    const QByteArrayView stream(reinterpret_cast<const char *>(data + 1 + cutCount),
                                qsizetype(size - 1 - cutCount));

    const QStringList lines = readAll(stream, cuts, cutCount);
    check(lines == readAll(stream, nullptr, 0));
    check(lines == referenceLines(stream));

    for (const QString &line : lines) {
        check(!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')));
        const DeepSeek::Chunk chunk = DeepSeek::parse(line);
        check((chunk.kind == DeepSeek::Chunk::Kind::text) == !chunk.text.isEmpty());
        if (chunk.kind != DeepSeek::Chunk::Kind::skip)
            check(line.startsWith(QStringLiteral("data:")));
        if (DeepSeek::usage(line))
            check(line.contains(QStringLiteral("\"usage\"")));
    }

    // The answer splitters see whole answers, line feeds included.
    const QString answer = QString::fromUtf8(stream);
    if (const auto head = DeepSeek::correctionHead(answer)) {
        check(head->end > 0 && head->end <= answer.size());
        check(answer.at(head->end - 1) == QLatin1Char('\n'));
        check(head->consumed > 0 && head->consumed <= head->end);
    }
    const DeepSeek::CorrectionSplit correction = DeepSeek::splitCorrection(answer);
    check(!correction.translation.contains(QLatin1Char('\n')));
    const DeepSeek::AlternateSplit alternate = DeepSeek::splitAlternate(answer);
    check(!alternate.alt || !alternate.alt->isEmpty());
    DeepSeek::cleanAlternate(answer);
    return 0;
}
