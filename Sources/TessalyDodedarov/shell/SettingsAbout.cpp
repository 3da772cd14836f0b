#include "shell/SettingsView.h"

#include "accounts/AppInfo.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QString SettingsView::versionText()
{
    return AppInfo::version();
}

QWidget *SettingsView::aboutSection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto *top = new QHBoxLayout;
    top->setSpacing(12);
    auto *icon = new QLabel;
    icon->setPixmap(QApplication::windowIcon().pixmap(QSize(48, 48)));
    icon->setFixedSize(48, 48);
    top->addWidget(icon, 0, Qt::AlignTop);
    auto *names = new QVBoxLayout;
    names->setSpacing(3);
    auto *name = new QLabel(QStringLiteral("泰萨利字幕 TessalyCaption"));
    QFont bold = name->font();
    bold.setWeight(QFont::DemiBold);
    name->setFont(bold);
    names->addWidget(name);
    auto *version = new QLabel;
    version->setObjectName(QStringLiteral("aboutVersion"));
    QPalette grey = version->palette();
    grey.setColor(QPalette::WindowText, secondaryColor());
    version->setPalette(grey);
    names->addWidget(version);
    follow([version] { version->setText(QStringLiteral("版本 ") + AppInfo::version()); });
    top->addLayout(names);
    top->addStretch(1);
    column->addLayout(top);

    auto *actions = new QHBoxLayout;
    actions->setSpacing(8);
    m_updateButton = new QPushButton(QStringLiteral("检查更新"));
    m_updateButton->setObjectName(QStringLiteral("checkUpdate"));
    connect(m_updateButton, &QPushButton::clicked, this, &SettingsView::checkForUpdate);
    actions->addWidget(m_updateButton);
    auto *feedback = new QPushButton(QStringLiteral("意见反馈"));
    feedback->setObjectName(QStringLiteral("feedback"));
    connect(feedback, &QPushButton::clicked, this, &SettingsView::sendFeedback);
    actions->addWidget(feedback);
    auto link = [](const QString &text, const QString &url) {
        auto *label = new QLabel(QStringLiteral("<a href=\"%1\">%2</a>").arg(url.toHtmlEscaped(), text));
        label->setOpenExternalLinks(true);
        return label;
    };
    actions->addWidget(link(QStringLiteral("使用说明"), AppInfo::guidePage()));
    actions->addWidget(link(QStringLiteral("隐私说明"), AppInfo::privacyPage()));
    actions->addStretch(1);
    column->addLayout(actions);

    m_updateLabel = note(QString(), false);
    m_updateLabel->setObjectName(QStringLiteral("updateMessage"));
    m_updateLabel->setTextFormat(Qt::RichText);
    m_updateLabel->setOpenExternalLinks(true);
    column->addWidget(m_updateLabel);
    showUpdateState();

    column->addWidget(note(QStringLiteral("隐私：讲话的声音只发给 ElevenLabs 做语音识别，识别出的文字只发给 DeepSeek 做翻译。"
                                          "泰萨利字幕不收集、不上传任何数据；API 密钥只存在这台电脑的密钥环里，"
                                          "会议记录只存在“文档”文件夹里。"),
                           false));
    column->addWidget(note(QStringLiteral("字幕由 AI 实时识别和翻译，难免有错，仅供参考，重要内容请以原话为准。"), false));
    return box;
}

void SettingsView::checkForUpdate()
{
    if (m_updateChecking)
        return;
    m_updateChecking = true;
    m_updateMessage = QStringLiteral("正在检查…");
    m_updateURL.reset();
    showUpdateState();
    // The check is not cancelled when the window closes: the view lives on with the window,
    // and the outcome is there when it is shown again.
    AppInfo::fetchRelease(this, [this](std::optional<AppInfo::Release> release) {
        const AppInfo::UpdateOutcome outcome = AppInfo::describe(release);
        m_updateChecking = false;
        m_updateMessage = outcome.message;
        m_updateURL = outcome.url;
        showUpdateState();
    });
}

void SettingsView::sendFeedback()
{
    if (const std::optional<QUrl> url = AppInfo::feedbackURL(AppInfo::systemLine()))
        QDesktopServices::openUrl(*url);
}

void SettingsView::showUpdateState()
{
    m_updateButton->setEnabled(!m_updateChecking);
    m_updateLabel->setVisible(m_updateMessage.has_value());
    if (!m_updateMessage) {
        m_updateLabel->clear();
        return;
    }
    if (m_updateURL) {
        m_updateLabel->setText(QStringLiteral("<a href=\"%1\">%2</a>")
                                   .arg(m_updateURL->toString(QUrl::FullyEncoded).toHtmlEscaped(),
                                        m_updateMessage->toHtmlEscaped()));
        m_updateLabel->setProperty("link", m_updateURL->toString());
    } else {
        setNote(m_updateLabel, m_updateMessage->toHtmlEscaped(), false);
        m_updateLabel->setProperty("link", QString());
    }
}
