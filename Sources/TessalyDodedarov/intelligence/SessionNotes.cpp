#include "intelligence/SessionNotes.h"

#include "intelligence/BackgroundLogic.h"
#include "translation/Glossary.h"

#include <QRegularExpression>
#include <QTextBoundaryFinder>

namespace {

// Caps that keep the blocks of every translation request small however many
// notes the user adds.
constexpr qsizetype kSummaryLimit = 400;
constexpr qsizetype kNotesLimit = 1500;

// The first `limit` user-perceived characters; never splits a surrogate pair
// or a combining sequence.
QString leftCharacters(const QString &text, qsizetype limit)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    qsizetype end = 0;
    while (count < limit) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
        ++count;
    }
    return text.left(end);
}

} // namespace

SessionBackground SessionNotes::merged(const QList<SessionNote> &notes)
{
    SessionBackground result;
    // Each name and term is normalised once: a pasted glossary of thousands of rows must not
    // normalise every kept term again for each new one.
    QSet<QString> nameKeys;
    // Terms in merge order; a replaced one leaves an empty slot, dropped at the end.
    QList<std::optional<GlossaryEntry>> terms;
    QHash<QString, qsizetype> termSlots;
    for (const SessionNote &note : notes) {
        const SessionBackground &bg = note.extracted;
        if (result.title.isEmpty() && !bg.title.isEmpty())
            result.title = bg.title;
        if (!bg.summary.isEmpty()) {
            result.summary = result.summary.isEmpty() ? bg.summary : result.summary + u' ' + bg.summary;
            result.summary = leftCharacters(result.summary, kSummaryLimit);
        }
        for (const QString &name : bg.names) {
            const QString key = Glossary::normalize(name);
            if (nameKeys.contains(key))
                continue;
            nameKeys.insert(key);
            result.names.append(name);
        }
        // The newest note's rendering of a term wins and moves it to the end.
        for (const GlossaryEntry &term : bg.terms) {
            const QString key = Glossary::normalize(term.english);
            if (const auto slot = termSlots.constFind(key); slot != termSlots.cend())
                terms[*slot].reset();
            termSlots.insert(key, terms.size());
            terms.append(term);
        }
    }
    result.terms.reserve(termSlots.size());
    for (std::optional<GlossaryEntry> &term : terms) {
        if (term)
            result.terms.append(std::move(*term));
    }
    return result;
}

QList<GlossaryEntry> SessionNotes::quickTerms(const QString &text)
{
    // A link's query string ("?a=b") must not read as a definition.
    static const QRegularExpression link(QStringLiteral("https?://\\S+"),
                                         QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression separators(QStringLiteral("[\\n；;]"));
    QString cleaned = text;
    cleaned.replace(link, QStringLiteral(" "));

    QStringList kept;
    for (const QString &piece : cleaned.split(separators)) {
        if (piece.contains(u'=') || piece.contains(u'＝'))
            kept.append(piece);
    }
    if (kept.isEmpty())
        return {};
    QString definitions = kept.join(u'\n');
    definitions.replace(u'＝', u'=');

    QList<GlossaryEntry> result;
    for (const GlossaryEntry &entry : Glossary::parse(definitions)) {
        if (!entry.english.isEmpty() && !Glossary::containsChinese(entry.english))
            result.append(entry);
    }
    return result;
}

QString SessionNotes::promptBlock(const QList<SessionNote> &notes)
{
    qsizetype total = 0;
    QStringList lines;
    for (const SessionNote &note : notes) {
        QString text = note.text;
        // The link itself is read separately; in the prompt it is only noise.
        if (const std::optional<QString> found = BackgroundLogic::linkText(text))
            text.remove(*found);
        text = text.trimmed();
        if (text.isEmpty())
            continue;
        const qsizetype count = Glossary::length(text);
        // A note that does not fit is skipped, but a later, shorter one may.
        if (total + count > kNotesLimit)
            continue;
        total += count;
        lines.append(QStringLiteral("- ") + text.replace(u'\n', u'；'));
    }
    if (lines.isEmpty())
        return {};
    return QStringLiteral("\n\n【本场说明】（用户在会中随时补充的，翻译时照办：人名写法、术语译法、“听成 X 其实是 Y”的纠错、翻译要求）：\n")
        + lines.join(u'\n');
}

bool SessionNotes::autoReadable(const QUrl &url)
{
    // Plain substrings on purpose: "paypal", "gmail" and "myaccount" must all count.
    static const QStringList avoided{
        QStringLiteral("pay"),      QStringLiteral("topup"),     QStringLiteral("top-up"),
        QStringLiteral("recharge"), QStringLiteral("checkout"),  QStringLiteral("billing"),
        QStringLiteral("invoice"),  QStringLiteral("account"),   QStringLiteral("login"),
        QStringLiteral("signin"),   QStringLiteral("sign-in"),   QStringLiteral("signup"),
        QStringLiteral("auth"),     QStringLiteral("mail"),      QStringLiteral("bank"),
        QStringLiteral("wallet"),   QStringLiteral("order"),     QStringLiteral("cart"),
        QStringLiteral("console"),  QStringLiteral("dashboard"), QStringLiteral("settings"),
        QStringLiteral("api-keys"), QStringLiteral("apikey"),
    };
    const QString where = (url.host() + url.path()).toLower();
    for (const QString &word : avoided) {
        if (where.contains(word))
            return false;
    }
    return true;
}
