#pragma once

#include "speech/CaptionPipeline.h"

#include <QString>
#include <QStringList>

// A compact way to drive a caption pipeline from a table row. One step per string:
//   "p 1.0 We agree | A A"   a partial at 1.0 s with one label per word ("-" = unknown speaker)
//   "p 1.0 We agree"         a partial without labels
//   "c 2.0 We agree."        a committed text
//   "t 3.0"                  a tick
//   "f"                      a flush
// Outputs come back as "<step>: translate: text", "<step>: english: text",
// "<step>: closeEnglish" and "<step>: turn", the step counted from 1.
namespace PipelineScript {

inline QString describe(const CaptionPipeline::Output &output)
{
    using Kind = CaptionPipeline::Output::Kind;
    switch (output.kind) {
    case Kind::translate:
        return u"translate: "_qs + output.text;
    case Kind::english:
        return u"english: "_qs + output.text;
    case Kind::closeEnglish:
        return u"closeEnglish"_qs;
    case Kind::turn:
        return u"turn"_qs;
    }
    return {};
}

inline QList<CaptionPipeline::Output> step(CaptionPipeline &pipeline, const QString &line)
{
    const QChar kind = line.at(0);
    if (kind == u'f')
        return pipeline.flush();
    const QString rest = line.mid(2);
    const qsizetype blank = rest.indexOf(u' ');
    const double at = rest.left(blank < 0 ? rest.size() : blank).toDouble();
    QString text = blank < 0 ? QString() : rest.mid(blank + 1);
    if (kind == u't')
        return pipeline.tick(at);
    if (kind == u'c')
        return pipeline.committed(text, at);
    std::optional<CaptionPipeline::SpeakerLabels> speakers;
    const qsizetype bar = text.indexOf(u" | "_qs);
    if (bar >= 0) {
        speakers.emplace();
        for (const QString &label : text.mid(bar + 3).split(u' ', Qt::SkipEmptyParts))
            speakers->append(label == u"-" ? std::nullopt : std::optional<QString>(label));
        text.truncate(bar);
    }
    return pipeline.partial(text, speakers, at);
}

inline QStringList play(CaptionPipeline &pipeline, const QStringList &steps)
{
    QStringList outputs;
    for (qsizetype i = 0; i < steps.size(); ++i) {
        for (const CaptionPipeline::Output &output : step(pipeline, steps.at(i)))
            outputs.append(QString::number(i + 1) + u": "_qs + describe(output));
    }
    return outputs;
}

}
