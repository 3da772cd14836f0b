// libFuzzer target for the maker's release record: a release always has a version, its link
// only ever leads to a web page, and the version comparison is a strict order.
#include "FuzzInput.h"

#include "accounts/AppInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QByteArray body = input.rest();
    const std::optional<AppInfo::Release> release = AppInfo::Release::parse(body);
    const AppInfo::UpdateOutcome outcome = AppInfo::describe(release);
    check(!outcome.message.isEmpty());
    if (outcome.url)
        check(outcome.url->scheme() == QLatin1String("http") || outcome.url->scheme() == QLatin1String("https"));
    if (!release)
        return 0;
    check(!release->version.isEmpty());
    const QUrl link = AppInfo::releaseLink(release->url);
    check(link.scheme() == QLatin1String("http") || link.scheme() == QLatin1String("https"));
    check(!link.host().isEmpty());

    const QString current = AppInfo::version();
    check(!AppInfo::isNewer(release->version, release->version));
    check(!(AppInfo::isNewer(release->version, current) && AppInfo::isNewer(current, release->version)));
    return 0;
}
