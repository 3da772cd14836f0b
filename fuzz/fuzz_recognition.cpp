// libFuzzer target for the realtime recogniser's messages: each line of the input is one text
// message, read as the client reads it and handed on into the caption pipeline the way the
// engine and the meeting model do, with the clock moving and ticking between messages.
#include "FuzzInput.h"

#include "speech/CaptionPipeline.h"
#include "speech/ScribeMessage.h"
#include "speech/Segmenter.h"

#include <QHash>
#include <QStringList>

namespace {

void checkOutputs(const QList<CaptionPipeline::Output> &outputs)
{
    for (const CaptionPipeline::Output &output : outputs) {
        if (output.kind == CaptionPipeline::Output::Kind::translate)
            check(!output.text.trimmed().isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t language = input.byte();
    std::optional<SpeechLanguage> raw;
    if (language % 3 == 1)
        raw = SpeechLanguage::english;
    else if (language % 3 == 2)
        raw = SpeechLanguage::chinese;
    CaptionPipeline pipeline(raw);
    const int connection = 1;
    QHash<QString, QString> merged; // the service's speaker merges, kept as the engine keeps them
    double at = 0;

    const QStringList messages = QString::fromUtf8(input.rest()).split(u'\n');
    for (const QString &message : messages) {
        at += 0.05 + 0.4 * double(message.size() % 8);
        const std::optional<SpeechEvent> event = ScribeMessage::read(message);
        if (event) {
            switch (event->kind) {
            case SpeechEvent::Kind::partial: {
                std::optional<CaptionPipeline::SpeakerLabels> labels;
                if (event->speakers) {
                    // One label per word of the text, or the service's list is not used at all.
                    check(event->speakers->size() == Segmenter::words(event->text).size());
                    labels.emplace();
                    for (const std::optional<QString> &speaker : *event->speakers) {
                        if (!speaker) {
                            labels->append(std::nullopt);
                            continue;
                        }
                        QString id = *speaker;
                        for (int step = 0; step < 33 && merged.contains(id); ++step)
                            id = merged.value(id);
                        labels->append(QString::number(connection) + u':' + id);
                    }
                }
                checkOutputs(pipeline.partial(event->text, labels, at));
                break;
            }
            case SpeechEvent::Kind::committed:
                check(!event->text.isEmpty() && event->text == event->text.trimmed());
                checkOutputs(pipeline.partial(QString(), std::nullopt, at));
                checkOutputs(pipeline.committed(event->text, at));
                break;
            case SpeechEvent::Kind::fatal:
                check(!event->text.isEmpty());
                break;
            case SpeechEvent::Kind::closed:
                check(event->reason && !event->reason->isEmpty());
                break;
            case SpeechEvent::Kind::speakersMerged:
                if (event->from != event->to)
                    merged.insert(event->from, event->to);
                break;
            case SpeechEvent::Kind::started:
                break;
            case SpeechEvent::Kind::opened:
                check(false); // only the socket's upgrade reports this, never a message
                break;
            }
        }
        checkOutputs(pipeline.tick(at));
        pipeline.pendingEnglish(message);
    }
    checkOutputs(pipeline.flush());
    return 0;
}
