#include "testing/SessionProbe.h"

#include "display/CaptionPanel.h"
#include "display/CaptionPanelController.h"
#include "display/CaptionView.h"
#include "display/HistoryTextView.h"
#include "display/HistoryView.h"
#include "model/AppModel.h"
#include "shell/AppDelegate.h"
#include "shell/SettingsWindowController.h"
#include "accounts/KeyCheck.h"
#include "speech/ScribeClient.h"
#include "translation/DeepSeekTransport.h"

#include <QDBusConnection>
#include <QScrollBar>
#include <QSslConfiguration>
#include <QTextBlock>
#include <QTextCursor>

namespace {

HistoryTextView *historyOf(const AppDelegate *delegate)
{
    CaptionPanelController *panel = delegate->panelController();
    if (!panel || !panel->view() || !panel->view()->history())
        return nullptr;
    return panel->view()->history()->textView();
}

} // namespace

void SessionProbe::useTestAddresses()
{
    const auto take = [](const char *name, QUrl &address) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty())
            address = QUrl(value);
    };
    take("DODEDAROV_TEST_SCRIBE_URL", ScribeClient::baseAddress);
    take("DODEDAROV_TEST_DEEPSEEK_URL", DeepSeekTransport::baseAddress);
    take("DODEDAROV_TEST_ELEVENLABS_URL", KeyCheck::elevenLabsAddress);
    // The fakes' own certificate authority, so that the services can be reached over TLS as
    // the real ones are.
    const QString authority = qEnvironmentVariable("DODEDAROV_TEST_CA_FILE");
    if (!authority.isEmpty()) {
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificates(authority);
        QSslConfiguration::setDefaultConfiguration(trusting);
    }
}

SessionProbe::SessionProbe(AppDelegate *delegate)
    : QObject(delegate)
    , m_delegate(delegate)
{
}

bool SessionProbe::publish()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.registerObject(QStringLiteral("/SessionProbe"), this, QDBusConnection::ExportAllProperties)
        && bus.registerService(QStringLiteral("com.tessalab.dodedarov.SessionProbe"));
}

int SessionProbe::hotKeys() const
{
    return m_delegate->hotKeyCount();
}

bool SessionProbe::running() const
{
    const AppModel *model = m_delegate->model ? m_delegate->model : AppModel::shared();
    return model && model->running();
}

double SessionProbe::chineseSize() const
{
    const AppModel *model = m_delegate->model ? m_delegate->model : AppModel::shared();
    return model ? model->appearance().chineseSize : 0;
}

qulonglong SessionProbe::panelWindow() const
{
    CaptionPanelController *panel = m_delegate->panelController();
    return panel && panel->panel() ? qulonglong(panel->panel()->winId()) : 0;
}

int SessionProbe::historyValue() const
{
    const HistoryTextView *text = historyOf(m_delegate);
    return text ? text->verticalScrollBar()->value() : -1;
}

int SessionProbe::historyMaximum() const
{
    const HistoryTextView *text = historyOf(m_delegate);
    return text ? text->verticalScrollBar()->maximum() : -1;
}

bool SessionProbe::newestInView() const
{
    const HistoryTextView *text = historyOf(m_delegate);
    if (!text || !text->isVisible())
        return false;
    QTextCursor cursor(text->document());
    cursor.movePosition(QTextCursor::End);
    // The last visible character, past any trailing blank.
    while (cursor.position() > 0) {
        const QChar before = text->document()->characterAt(cursor.position() - 1);
        if (!before.isSpace() && before != QChar::ParagraphSeparator)
            break;
        cursor.movePosition(QTextCursor::PreviousCharacter);
    }
    if (cursor.position() == 0)
        return false;
    cursor.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    const QRect glyph = text->cursorRect(cursor);
    return text->viewport()->rect().contains(glyph);
}

QString SessionProbe::newestText() const
{
    const HistoryTextView *text = historyOf(m_delegate);
    if (!text)
        return {};
    for (QTextBlock block = text->document()->lastBlock(); block.isValid(); block = block.previous()) {
        if (!block.text().trimmed().isEmpty())
            return block.text();
    }
    return {};
}

QString SessionProbe::historyText() const
{
    const HistoryTextView *text = historyOf(m_delegate);
    return text ? text->toPlainText() : QString();
}

bool SessionProbe::keysKnown() const
{
    const AppModel *model = m_delegate->model ? m_delegate->model : AppModel::shared();
    return model && model->keys().keysKnown();
}

bool SessionProbe::settingsShown() const
{
    const QWidget *window = SettingsWindowController::shared().window();
    return window && window->isVisible();
}
