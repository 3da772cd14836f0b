// libFuzzer target for the diagnostics summary files read back for the overview: a summary is
// read only with a string name, no value read is one a meeting cannot have, and a summary
// written back out reads as itself.
#include "FuzzInput.h"

#include "records/Diagnostics.h"

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QString text = QString::fromUtf8(input.rest());
    const std::optional<Diagnostics::Summary> summary = Diagnostics::parseSummary(text);
    if (!summary)
        return 0;
    check(std::isfinite(summary->minutes) && summary->minutes >= 0);
    check(summary->lines >= 0);
    for (const int count : summary->counts)
        check(count >= 0);

    const QString written = Diagnostics::summaryJSON(summary->name, summary->version, summary->minutes,
                                                     summary->lines, summary->counts);
    const std::optional<Diagnostics::Summary> again = Diagnostics::parseSummary(written);
    check(again.has_value());
    check(again->name == summary->name && again->version == summary->version);
    check(again->lines == summary->lines && again->counts == summary->counts);
    check(std::abs(again->minutes - summary->minutes) <= 0.05 + 1e-9 * summary->minutes);

    const QString overview = Diagnostics::overview({*summary, *again});
    check(!overview.isEmpty());
    return 0;
}
