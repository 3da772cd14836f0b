// libFuzzer target for the proofreading answer: the record's lines (source, a tab character,
// translation per line), the chunk asked about, then the model's answer. Every fix belongs to
// the chunk, to one line only, changes something, and keeps its note short.
#include "FuzzInput.h"

#include "translation/Glossary.h"
#include "translation/Proofread.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t lower = input.byte();
    const uint8_t count = input.byte();
    QList<Proofread::Line> lines;
    for (const QString &row : input.text().split(u'\n')) {
        const qsizetype tab = row.indexOf(u'\t');
        lines.append(tab < 0 ? Proofread::Line{row, {}} : Proofread::Line{row.first(tab), row.mid(tab + 1)});
    }
    const int from = lower % (lines.size() + 1);
    const Proofread::Range range{from, std::min<int>(from + count % 16, lines.size())};
    const QString reply = input.text();

    const QList<Proofread::Fix> fixes = Proofread::parse(reply, lines, range);
    QList<int> seen;
    for (const Proofread::Fix &fix : fixes) {
        check(range.contains(fix.index) && fix.index < lines.size());
        check(!seen.contains(fix.index));
        seen.append(fix.index);
        check(fix.source || fix.translation);
        const Proofread::Line &line = lines.at(fix.index);
        if (fix.source)
            check(*fix.source != line.source && !fix.source->isEmpty());
        if (fix.translation)
            check(!fix.translation->isEmpty());
        check(Glossary::length(fix.why) <= 40);
        Proofread::note(fix, line);
        if (fix.source)
            Proofread::difference(line.source, *fix.source);
    }
    Proofread::prompt(lines, range, QStringLiteral("budget review"));
    return 0;
}
