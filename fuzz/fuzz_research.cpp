// libFuzzer target for the research and quick-check answers of the chat model: the recent
// transcript, then the model's reply. Whatever the reply holds, the result keeps the readers'
// caps and only keeps fixes of words that were really heard; it folds into a meeting's result.
#include "FuzzInput.h"

#include "intelligence/QuickResearch.h"
#include "intelligence/Research.h"
#include "translation/Glossary.h"

namespace {

void checkResult(const ResearchResult &result, const QString &recent)
{
    const QString padded = u' ' + Glossary::normalize(recent) + u' ';
    check(Glossary::length(result.domain) <= 60);
    for (qsizetype i = 0; i < result.names.size(); ++i) {
        check(!result.names[i].isEmpty());
        check(result.names.indexOf(result.names[i]) == i);
    }
    for (const GlossaryEntry &term : result.terms)
        check(!term.english.isEmpty() && !Glossary::containsChinese(term.english));
    for (const ResearchResult::Fix &fix : result.fixes) {
        check(!fix.heard.isEmpty() && !fix.correct.isEmpty());
        check(padded.contains(u' ' + Glossary::normalize(fix.heard) + u' '));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    const bool quick = input.byte() % 2;
    const QString recent = input.text();
    const QString reply = input.text();

    const std::optional<ResearchResult> result =
        quick ? QuickResearch::parse(reply, recent) : Research::parse(reply, recent);
    if (!result)
        return 0;
    check(reply.contains(u'{') && reply.contains(u'}'));
    checkResult(*result, recent);
    if (quick)
        check(result->domain.isEmpty());

    ResearchResult meeting;
    meeting.merge(*result);
    meeting.merge(*result);
    meeting.dropMisheardNames(result->names);
    meeting.logText(ResearchResult(), quick, QStringLiteral("研究"));
    meeting.summary();
    meeting.promptBlock();
    return 0;
}
