// libFuzzer target for the batch speech-to-text reply through cue building into SRT text:
// cue limits from the first bytes, then the service's JSON body. Words are never empty and
// never end before they start; cues keep time order within themselves; the SRT has one
// numbered block per cue with well-formed times.
#include "FuzzInput.h"

#include "records/Subtitles.h"

#include <QRegularExpression>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const double maxDuration = 1.0 + input.byte() % 12;
    const int maxCharacters = 10 + input.byte() % 80;
    const int maxChinese = 5 + input.byte() % 30;
    const bool bilingual = input.byte() % 2;
    const std::optional<Subtitles::Transcription> transcription = Subtitles::parseWords(input.rest());
    if (!transcription)
        return 0;
    for (const Subtitles::Word &word : transcription->words) {
        check(!word.text.isEmpty());
        check(word.end >= word.start);
    }
    QList<Subtitles::Cue> cues = Subtitles::cues(transcription->words, maxDuration, maxCharacters, maxChinese);
    check(transcription->words.isEmpty() == cues.isEmpty());
    for (Subtitles::Cue &cue : cues) {
        check(cue.end >= cue.start);
        check(!cue.text.isEmpty());
        cue.translation = QStringLiteral("译文");
    }

    const QString srt = Subtitles::srt(cues, bilingual);
    static const QRegularExpression time(
        QStringLiteral("^(\\d+)\\n\\d{2,}:\\d{2}:\\d{2},\\d{3} --> \\d{2,}:\\d{2}:\\d{2},\\d{3}$"),
        QRegularExpression::MultilineOption);
    qsizetype blocks = 0;
    for (QRegularExpressionMatchIterator it = time.globalMatch(srt); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.captured(1).toLongLong() == blocks + 1)
            ++blocks;
    }
    check(blocks == cues.size());
    Subtitles::transcript(cues, QStringLiteral("会议"));
    for (const Subtitles::Cue &cue : std::as_const(cues))
        check(!Subtitles::clock(cue.start).startsWith(u'-'));
    return 0;
}
