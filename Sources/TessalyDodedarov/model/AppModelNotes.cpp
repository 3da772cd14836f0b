// The user's notes about the meeting: kept, turned into names and terms by the extraction
// request, and fed to the prompts and the recogniser's key terms.
#include "model/AppModel.h"

#include "intelligence/BackgroundLogic.h"
#include "intelligence/SessionNotes.h"
#include "intelligence/TextCut.h"
#include "platform/Keychain.h"
#include "translation/DeepSeek.h"
#include "translation/DeepSeekTransport.h"
#include "translation/Glossary.h"

namespace {

// The most of a note's material one extraction request sends, and of its text in the record.
constexpr qsizetype kMaterialLimit = 12000;
constexpr qsizetype kRecordCut = 80;

} // namespace

void AppModel::refreshKeyterms()
{
    if (!m_running)
        return;
    m_engine->setKeyterms(Glossary::keyterms({}, background().keyterms(), 50));
}

void AppModel::submitNote(const QString &text, bool automatic)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return;
    SessionNote note;
    note.id = m_nextNoteID++;
    note.text = trimmed;
    note.extracted.terms = SessionNotes::quickTerms(trimmed);
    note.busy = true;
    note.automatic = automatic;
    m_notes.append(note);
    emit notesChanged();
    if (m_meetingActive)
        m_notesMeeting = m_meetingSerial;
    refreshKeyterms();
    if (const std::optional<QString> key = Keychain::get(Keychain::deepSeekAccount))
        startNoteExtraction(note.id, trimmed, *key);
    else
        finishNote(note.id, std::nullopt, QStringLiteral("已记下（还没有翻译密钥，没法提取人名）"));
}

void AppModel::deleteNote(int id)
{
    const qsizetype before = m_notes.size();
    m_notes.removeIf([id](const SessionNote &note) { return note.id == id; });
    if (m_notes.size() != before)
        emit notesChanged();
    if (m_notes.isEmpty())
        m_notesMeeting.reset();
    refreshKeyterms();
}

void AppModel::startNoteExtraction(int id, const QString &text, const QString &key)
{
    // The extraction does not follow the meeting: a note that still exists when the answer comes
    // is completed, whichever meeting is open then.
    QPointer<AppModel> self(this);
    auto ask = [self, id, key](const QString &material) {
        if (!self)
            return;
        const QByteArray body = DeepSeek::agentBody(BackgroundLogic::extractionPrompt(),
                                                    TextCut::left(material, kMaterialLimit), 1500);
        auto reply = std::make_shared<QString>();
        // A stream that fails still leaves what had arrived; that text is read like any answer.
        DeepSeekTransport::stream(
            body, key, [reply](const QString &delta) { reply->append(delta); },
            [self, id, reply](const DeepSeekTransport::Outcome &) {
                if (!self)
                    return;
                const std::optional<SessionBackground> found = BackgroundLogic::parse(*reply);
                OptionalText status;
                if (found && !found->isEmpty())
                    status = QStringLiteral("提取到：") + found->description();
                self->finishNote(id, found, status);
            },
            self->m_transport);
    };
    const std::optional<QUrl> link = BackgroundLogic::link(text);
    if (!link) {
        ask(text);
        return;
    }
    m_platform.fetchPage(*link, [self, id, text, ask](const OptionalText &html) {
        if (!self)
            return;
        if (!html) {
            self->finishNote(id, std::nullopt, QStringLiteral("打不开这个链接。可以把介绍文字直接贴进来。"));
            return;
        }
        ask(BackgroundLogic::material(text, *html));
    });
}

void AppModel::finishNote(int id, const std::optional<SessionBackground> &found, const OptionalText &status)
{
    const auto at = std::find_if(m_notes.begin(), m_notes.end(),
                                 [id](const SessionNote &note) { return note.id == id; });
    if (at == m_notes.end())
        return;
    const qsizetype index = at - m_notes.begin();
    // A page the browser offered that gave nothing leaves no trace.
    if (m_notes[index].automatic && (!found || found->isEmpty())) {
        m_notes.removeAt(index);
        if (m_notes.isEmpty())
            m_notesMeeting.reset();
        emit notesChanged();
        return;
    }
    SessionNote &note = m_notes[index];
    note.busy = false;
    note.status = status;
    if (found) {
        SessionBackground merged = *found;
        // What the user typed as "A = B" wins over what was extracted for the same term.
        for (const GlossaryEntry &typed : note.extracted.terms) {
            const QString key = Glossary::normalize(typed.english);
            merged.terms.removeIf(
                [&key](const GlossaryEntry &term) { return Glossary::normalize(term.english) == key; });
            merged.terms.append(typed);
        }
        note.extracted = merged;
    }
    QString block = QStringLiteral("〔读取本场说明〕");
    block += TextCut::longerThan(note.text, kRecordCut) ? TextCut::left(note.text, kRecordCut) + QStringLiteral("…")
                                                        : note.text;
    if (status && !status->isEmpty())
        block += u'\n' + *status;
    if (!note.extracted.names.isEmpty())
        block += QStringLiteral("\n人名、机构：") + note.extracted.names.join(QStringLiteral("、"));
    if (!note.extracted.terms.isEmpty()) {
        QStringList terms;
        for (const GlossaryEntry &term : note.extracted.terms)
            terms.append(term.chinese.trimmed().isEmpty() ? term.english
                                                          : term.english + QStringLiteral(" = ") + term.chinese);
        block += QStringLiteral("\n术语：") + terms.join(QStringLiteral("；"));
    }
    const QString noteText = note.text;
    emit notesChanged();
    logBackground(block);
    log(QStringLiteral("note"), {{QStringLiteral("text"), noteText}, {QStringLiteral("status"), status.value_or(QString())}});
    refreshKeyterms();
}
