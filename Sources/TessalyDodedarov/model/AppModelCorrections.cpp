// Corrections of heard names against what the meeting knows.
#include "model/AppModel.h"

#include "intelligence/NameFix.h"

QStringList AppModel::soundAlikeTargets() const
{
    const SessionBackground known = background();
    QStringList words = known.names;
    for (const GlossaryEntry &term : known.terms)
        words += term.aliases();
    for (const ResearchResult::Fix &fix : m_research.fixes)
        words.append(fix.correct);
    return NameFix::targets(words);
}
