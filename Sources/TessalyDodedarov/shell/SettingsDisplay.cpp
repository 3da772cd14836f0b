#include "shell/SettingsView.h"

#include "model/AppModel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

QWidget *SettingsView::captionDisplaySection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto *scriptRow = new QHBoxLayout;
    scriptRow->setSpacing(0);
    scriptRow->addWidget(new QLabel(QStringLiteral("中文")));
    scriptRow->addSpacing(8);
    auto *group = new QButtonGroup(box);
    const QStringList scripts {QStringLiteral("简体"), QStringLiteral("繁體")};
    for (int i = 0; i < scripts.size(); ++i) {
        auto *button = new QPushButton(scripts.at(i));
        button->setObjectName(QStringLiteral("script"));
        button->setCheckable(true);
        button->setMaximumWidth(110);
        group->addButton(button, i);
        scriptRow->addWidget(button);
    }
    scriptRow->addStretch(1);
    column->addLayout(scriptRow);
    connect(group, &QButtonGroup::idClicked, this, [this](int id) {
        CaptionParts parts = m_model.captionParts();
        parts.traditional = id == 1;
        m_model.setCaptionParts(parts);
    });
    follow([this, group] { group->button(m_model.captionParts().traditional ? 1 : 0)->setChecked(true); });

    auto part = [this, column](const QString &title, bool CaptionParts::*field) {
        auto *check = new QCheckBox(title);
        column->addWidget(check);
        connect(check, &QCheckBox::clicked, this, [this, field](bool on) {
            CaptionParts parts = m_model.captionParts();
            parts.*field = on;
            m_model.setCaptionParts(parts);
        });
        // Redrawn from the model also when the model refuses the change (the last language
        // turned off), so the switch flips back.
        follow([this, check, field] { check->setChecked(m_model.captionParts().*field); });
        return check;
    };
    part(QStringLiteral("中文"), &CaptionParts::chinese);
    part(QStringLiteral("英文"), &CaptionParts::english);
    part(QStringLiteral("原文（讲其他语言时，比如日文、韩文）"), &CaptionParts::original);
    QCheckBox *older = part(QStringLiteral("停下后往上翻阅时，旧段落也显示英文"), &CaptionParts::olderEnglish);
    follow([this, older] {
        older->setEnabled(m_model.captionParts().chinese && m_model.captionParts().english);
    });
    column->addWidget(note(QStringLiteral("中文和英文至少留一个。实时识别时所有段落都中英对照，已经显示的字不会变；"
                                          "停下以后往上翻阅，默认只有最新 3 段中英对照、更早的只留中文，打开上面这项就全部中英对照。"
                                          "会议记录里总是都有。"),
                           false));
    return box;
}

QWidget *SettingsView::captionWindowSection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(note(QStringLiteral("拖字幕窗的边缘可以随意调整大小；往上翻看时下方会出现“回到最新”。"), false));

    auto *awake = new QCheckBox(QStringLiteral("工作时保持唤醒（不自动锁屏、不睡眠）"));
    column->addWidget(awake);
    connect(awake, &QCheckBox::clicked, this, [this](bool on) { m_model.setKeepAwakeSetting(on); });

    // X11 and Wayland compositors offer no way to keep one window out of a screen share or a
    // recording, so the switch cannot do what it says: it is shown off and cannot be changed,
    // and the stored value is left as it is for a platform that can.
    auto *hide = new QCheckBox(QStringLiteral("共享屏幕或录屏时隐藏字幕窗"));
    hide->setObjectName(QStringLiteral("hideFromSharing"));
    hide->setChecked(false);
    hide->setEnabled(false);
    column->addWidget(hide);
    QLabel *hideNote = note(QStringLiteral("Linux 不支持这一项：共享屏幕或录屏时，字幕窗照样会被录进去。"), false);
    hideNote->setObjectName(QStringLiteral("hideFromSharingNote"));
    column->addWidget(hideNote);

    auto *records = new QCheckBox(QStringLiteral("结束会议后打开会议记录文件夹"));
    column->addWidget(records);
    connect(records, &QCheckBox::clicked, this, [this](bool on) { m_model.setOpenRecordsAfterMeeting(on); });

    follow([this, awake, records] {
        awake->setChecked(m_model.keepAwake());
        records->setChecked(m_model.openRecordsAfterMeeting());
    });
    return box;
}
