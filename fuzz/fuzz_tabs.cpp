// libFuzzer target for finding the tab being listened to: a tab list text (address, tab
// character, title per line), then the model's answer about the tabs it was shown. Every tab
// read is a web page, and the answer can only name one of the tabs it was shown.
#include "FuzzInput.h"

#include "intelligence/BrowserTabs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const QList<BrowserTabs::Tab> tabs = BrowserTabs::parse(input.text());
    for (const BrowserTabs::Tab &tab : tabs) {
        check(tab.url.scheme().startsWith(QStringLiteral("http")));
        check(!tab.title.startsWith(u' ') && !tab.title.endsWith(u' '));
        check(!tab.title.startsWith(u'\t') && !tab.title.endsWith(u'\t'));
    }
    const QList<BrowserTabs::Tab> shown = BrowserTabs::candidates(tabs);
    check(shown.size() <= BrowserTabs::maxCandidates);
    for (const BrowserTabs::Tab &tab : shown)
        check(tabs.contains(tab));
    BrowserTabs::prompt(shown, QStringLiteral("we are talking about the roadmap"));

    const BrowserTabs::Answer answer = BrowserTabs::parse(input.text(), shown);
    if (answer.tab) {
        check(answer.decided);
        check(shown.contains(*answer.tab));
    }
    return 0;
}
