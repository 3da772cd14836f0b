#include "shell/SettingsView.h"

#include "model/AppModel.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <functional>

namespace {

QWidget *indented(QWidget *widget)
{
    auto *holder = new QWidget;
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(18, 0, 0, 0);
    layout->addWidget(widget);
    return holder;
}

}

QWidget *SettingsView::translationSection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto toggle = [this, column](const QString &title, void (AppModel::*setter)(bool),
                                 bool (AppModel::*getter)() const) {
        auto *box = new QCheckBox(title);
        connect(box, &QCheckBox::clicked, this, [this, setter](bool on) { std::invoke(setter, m_model, on); });
        follow([this, box, getter] { box->setChecked(std::invoke(getter, m_model)); });
        return box;
    };
    // A present status replaces the help text, even when it is empty; the notes stay grey.
    auto statusOrHelp = [this](const QString &help, const AppModel::OptionalText &(AppModel::*status)() const,
                               const QString &name) {
        QLabel *label = note(help, false);
        label->setObjectName(name);
        follow([this, label, help, status] { setNote(label, std::invoke(status, m_model).value_or(help), false); });
        return label;
    };

    column->addWidget(toggle(QStringLiteral("边听边研究，自动理解会议内容"), &AppModel::setResearchEnabled,
                             &AppModel::researchEnabled));
    column->addWidget(statusOrHelp(
        QStringLiteral("每隔两三分钟分析一次最近讲的内容：这场在讲什么、人名怎么写、术语怎么译、哪些词像是听错了；"
                       "听到拿不准的名字或缩写时马上单独查。查到后改正字幕（改过的词换颜色）。只用于这一场。"),
        &AppModel::researchStatus, QStringLiteral("researchNote")));
    QCheckBox *webSearch = toggle(QStringLiteral("研究时允许联网搜索"), &AppModel::setResearchWebSearch,
                                  &AppModel::researchWebSearch);
    follow([this, webSearch] { webSearch->setEnabled(m_model.researchEnabled()); });
    column->addWidget(indented(webSearch));
    column->addWidget(indented(note(
        QStringLiteral("用 DeepSeek 自带的联网搜索确认拿不准的人名和新术语；搜索按次另外计费。"), false)));
    column->addWidget(toggle(QStringLiteral("自动读取正在听的网页"), &AppModel::setReadBrowserPage,
                             &AppModel::readBrowserPage));
    column->addWidget(note(QStringLiteral("听写一会儿后，查看 Firefox、Chrome 等浏览器里打开着的标签页，找出正在听的视频或会议，"
                                          "读取它的简介提取人名和术语（不读付款、登录、邮箱等页面）。Chrome 类浏览器要开着远程调试才能读取。"),
                           false));
    column->addWidget(toggle(QStringLiteral("会后校对会议记录"), &AppModel::setProofreadAfterMeeting,
                             &AppModel::proofreadAfterMeeting));
    column->addWidget(statusOrHelp(
        QStringLiteral("结束会议后改正识别和翻译错误，另存一份“校对版”（原记录不动）。"),
        &AppModel::proofreadStatus, QStringLiteral("proofreadNote")));
    column->addWidget(toggle(QStringLiteral("会后生成诊断报告（帮助改进软件）"), &AppModel::setDiagnosticsEnabled,
                             &AppModel::diagnosticsEnabled));
    column->addWidget(statusOrHelp(
        QStringLiteral("结束会议后，在记录文件夹的“诊断”里写一份自查报告和详细日志：自动挑出识别、翻译、断句的可疑之处，"
                       "并请 DeepSeek 分析主要问题和改进建议；“汇总.md”看最近几场的问题有没有变少。只存在本机。"),
        &AppModel::diagnosticsStatus, QStringLiteral("diagnosticsNote")));
    auto *reveal = new QPushButton(QStringLiteral("打开诊断文件夹"));
    QFont small = reveal->font();
    if (small.pointSizeF() > 0)
        small.setPointSizeF(small.pointSizeF() * 0.9);
    reveal->setFont(small);
    connect(reveal, &QPushButton::clicked, this, [this] { m_model.revealDiagnostics(); });
    column->addWidget(reveal, 0, Qt::AlignLeft);

    QLabel *last = note(QString(), false);
    last->setObjectName(QStringLiteral("lastTranslationNote"));
    column->addWidget(last);
    follow([this, last] {
        const AppModel::OptionalText &text = m_model.lastTranslation();
        if (text)
            setNote(last, *text, text->contains(QStringLiteral("失败")));
        else
            setNote(last, QStringLiteral("翻译过一句后，这里会显示最近一次翻译的结果。"), false);
    });
    return box;
}
