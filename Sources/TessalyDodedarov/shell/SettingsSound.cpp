#include "shell/SettingsView.h"

#include "model/AppModel.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct SourceTexts {
    AudioSource source;
    QString label;
    QString explanation;
};

const QList<SourceTexts> &sourceTexts()
{
    static const QList<SourceTexts> texts {
        {AudioSource::system, QStringLiteral("电脑声音"),
         QStringLiteral("识别电脑正在播放的声音：线上会议、视频。")},
        {AudioSource::microphone, QStringLiteral("麦克风"),
         QStringLiteral("识别麦克风收到的声音：现场会议、讲座。")},
        {AudioSource::both, QStringLiteral("两者"),
         QStringLiteral("对方的声音和你自己说的话都识别。请戴耳机，否则外放的声音会被麦克风再收一遍、识别两次。")},
    };
    return texts;
}

}

QWidget *SettingsView::audioSourceSection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    // A segmented choice: checkable buttons side by side, one of them on.
    auto *segments = new QHBoxLayout;
    segments->setSpacing(0);
    auto *group = new QButtonGroup(box);
    group->setExclusive(true);
    for (int i = 0; i < sourceTexts().size(); ++i) {
        auto *button = new QPushButton(sourceTexts().at(i).label);
        button->setObjectName(QStringLiteral("audioSource"));
        button->setCheckable(true);
        group->addButton(button, i);
        segments->addWidget(button);
    }
    segments->addStretch(1);
    column->addLayout(segments);
    QLabel *explanation = note(QString(), false);
    explanation->setObjectName(QStringLiteral("audioSourceNote"));
    column->addWidget(explanation);

    connect(group, &QButtonGroup::idClicked, this,
            [this](int id) { m_model.setAudioSource(sourceTexts().at(id).source); });
    follow([this, group, explanation] {
        for (int i = 0; i < sourceTexts().size(); ++i) {
            if (sourceTexts().at(i).source == m_model.audioSource()) {
                group->button(i)->setChecked(true);
                setNote(explanation, sourceTexts().at(i).explanation, false);
            }
        }
    });
    return box;
}

QWidget *SettingsView::recognitionSection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto *diarize = new QCheckBox(QStringLiteral("区分说话人"));
    column->addWidget(diarize);
    column->addWidget(note(QStringLiteral("换人时另起一段。"), false));
    connect(diarize, &QCheckBox::clicked, this, [this](bool on) { m_model.setDiarize(on); });

    auto *row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("没有人声多久后自动暂停")));
    auto *minutes = new QComboBox;
    minutes->setObjectName(QStringLiteral("autoPause"));
    for (int choice : AppModel::autoPauseChoices())
        minutes->addItem(choice == 0 ? QStringLiteral("不自动暂停") : QStringLiteral("%1 分钟").arg(choice), choice);
    row->addWidget(minutes);
    row->addStretch(1);
    column->addLayout(row);
    column->addWidget(note(QStringLiteral("没有人声时本来就不发送音频、不计费；自动暂停是防止忘了关。"), false));
    connect(minutes, &QComboBox::activated, this,
            [this, minutes](int index) { m_model.setAutoPauseMinutes(minutes->itemData(index).toInt()); });

    follow([this, diarize, minutes] {
        diarize->setChecked(m_model.diarize());
        // A stored value that is none of the choices selects no item.
        minutes->setCurrentIndex(minutes->findData(m_model.autoPauseMinutes()));
    });
    return box;
}
