#include "shell/SettingsView.h"

#include "display/InterfaceFonts.h"
#include "model/AppModel.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct ProviderTexts {
    QString name;
    QString role;
    QString keyPage;
};

ProviderTexts textsOf(KeyProvider provider)
{
    if (provider == KeyProvider::elevenLabs)
        return {QStringLiteral("ElevenLabs"), QStringLiteral("语音识别"),
                QStringLiteral("https://elevenlabs.io/app/settings/api-keys")};
    return {QStringLiteral("DeepSeek"), QStringLiteral("翻译"),
            QStringLiteral("https://platform.deepseek.com/api_keys")};
}

// The buttons follow the text trimmed of blanks only; the actions trim every kind of white
// space, so a field holding only a line break enables its button but saves nothing.
bool hasBlankTrimmedText(const QString &text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    while (from < to && blank(text.at(from)))
        ++from;
    while (to > from && blank(text.at(to - 1)))
        --to;
    return to > from;
}

void colour(QLabel *label, const QColor &color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QFont smaller(double factor, bool mono = false, bool bold = false)
{
    QFont font = mono ? InterfaceFonts::fixedWidth() : QApplication::font();
    const double base = QApplication::font().pointSizeF();
    if (base > 0)
        font.setPointSizeF(base * factor);
    if (bold)
        font.setWeight(QFont::DemiBold);
    return font;
}

QFrame *innerCard(int spacing, QVBoxLayout *&column)
{
    auto *card = new QFrame;
    card->setObjectName(QStringLiteral("keyCard"));
    card->setStyleSheet(QStringLiteral("QFrame#keyCard { background: rgba(128, 128, 128, 18); "
                                       "border-radius: 6px; }"));
    column = new QVBoxLayout(card);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(spacing);
    return card;
}

QHBoxLayout *providerHeader(KeyProvider provider)
{
    const ProviderTexts texts = textsOf(provider);
    auto *row = new QHBoxLayout;
    row->setSpacing(6);
    auto *name = new QLabel(texts.name);
    name->setFont(smaller(1.0, false, true));
    row->addWidget(name);
    auto *role = new QLabel(texts.role);
    role->setFont(smaller(0.9));
    colour(role, SettingsView::secondaryColor());
    row->addWidget(role);
    row->addStretch(1);
    auto *link = new QLabel(QStringLiteral("<a href=\"%1\">获取密钥</a>").arg(texts.keyPage));
    link->setObjectName(QStringLiteral("keyPageLink"));
    link->setFont(smaller(0.9));
    link->setOpenExternalLinks(true);
    row->addWidget(link);
    return row;
}

QLineEdit *keyField(const QString &objectName)
{
    auto *field = new QLineEdit;
    field->setObjectName(objectName);
    field->setEchoMode(QLineEdit::Password);
    return field;
}

bool isOrangeStatus(const KeyStatus &status)
{
    return status.kind == KeyStatus::Kind::problem || status.kind == KeyStatus::Kind::unreachable
        || status.kind == KeyStatus::Kind::invalid;
}

}

QWidget *SettingsView::keysSection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(note(QStringLiteral("需要两个密钥：ElevenLabs 用来识别讲话，DeepSeek 用来翻译。"
                                          "点“获取密钥”注册、创建后复制粘贴进来。"),
                           false));
    column->addWidget(keyRow(KeyProvider::elevenLabs));
    column->addWidget(keyRow(KeyProvider::deepSeek));

    auto *overall = new QLabel;
    overall->setObjectName(QStringLiteral("keysOverall"));
    overall->setWordWrap(true);
    overall->setFont(smaller(1.0, false, true));
    column->addWidget(overall);
    follow([this, overall] {
        const bool recognition = m_model.keys().hasElevenLabsKey();
        const bool translation = m_model.keys().hasDeepSeekKey();
        QString text;
        if (!recognition && !translation)
            text = QStringLiteral("还没有密钥：请填上 ElevenLabs（识别）和 DeepSeek（翻译）的 API Key。");
        else if (!recognition)
            text = QStringLiteral("还差 ElevenLabs 的 API Key（语音识别）。");
        else if (!translation)
            text = QStringLiteral("还差 DeepSeek 的 API Key（翻译）。");
        else
            text = QStringLiteral("可以开始了。识别用 ElevenLabs，翻译用 DeepSeek。");
        overall->setText(text);
        colour(overall, recognition && translation ? okColor() : warningColor());
    });
    return box;
}

QWidget *SettingsView::keyRow(KeyProvider provider)
{
    return provider == KeyProvider::elevenLabs ? elevenLabsRow() : singleKeyRow(provider);
}

QWidget *SettingsView::elevenLabsRow()
{
    QVBoxLayout *column = nullptr;
    QFrame *card = innerCard(6, column);
    card->setObjectName(QStringLiteral("keyCard"));
    card->setProperty("provider", QStringLiteral("elevenLabs"));
    column->addLayout(providerHeader(KeyProvider::elevenLabs));

    // The key rows are rebuilt from the model on every redraw; the field below them is not,
    // so typed text stays.
    auto *list = new QWidget;
    list->setObjectName(QStringLiteral("elevenLabsKeys"));
    auto *listColumn = new QVBoxLayout(list);
    listColumn->setContentsMargins(0, 0, 0, 0);
    listColumn->setSpacing(6);
    column->addWidget(list);

    auto *failover = new QLabel(QStringLiteral("正在用的额度用完了，会自动换下一个接着识别。"));
    failover->setObjectName(QStringLiteral("failoverLine"));
    failover->setWordWrap(true);
    failover->setFont(smaller(0.9));
    colour(failover, secondaryColor());
    column->addWidget(failover);

    auto *status = new QLabel;
    status->setObjectName(QStringLiteral("keyStatusLine"));
    status->setWordWrap(true);
    status->setFont(smaller(0.9));
    column->addWidget(status);

    auto *addRow = new QHBoxLayout;
    QLineEdit *field = keyField(QStringLiteral("elevenLabsField"));
    m_keyInputs.insert(KeyProvider::elevenLabs, field);
    auto *add = new QPushButton;
    add->setObjectName(QStringLiteral("elevenLabsAdd"));
    addRow->addWidget(field, 1);
    addRow->addWidget(add);
    column->addLayout(addRow);
    connect(field, &QLineEdit::returnPressed, this, [this] { addElevenLabs(); });
    connect(add, &QPushButton::clicked, this, [this] { addElevenLabs(); });
    connect(field, &QLineEdit::textChanged, add,
            [add](const QString &text) { add->setEnabled(hasBlankTrimmedText(text)); });
    add->setEnabled(false);

    follow([this, list, listColumn, failover, status, field, add] {
        const ElevenLabsKeys keys = m_model.keys().elevenLabsKeys();
        while (QLayoutItem *item = listColumn->takeAt(0)) {
            // A key row's own button may be what led here: take it out of the page now and
            // delete it once its click has returned.
            if (QWidget *widget = item->widget()) {
                widget->hide();
                widget->setParent(nullptr);
                widget->deleteLater();
            }
            delete item;
        }
        for (int index = 0; index < keys.keys.size(); ++index) {
            const QString &key = keys.keys.at(index);
            auto *row = new QWidget(list);
            row->setObjectName(QStringLiteral("elevenLabsKeyRow"));
            auto *rowLayout = new QHBoxLayout(row);
            rowLayout->setContentsMargins(0, 0, 0, 0);
            rowLayout->setSpacing(6);
            auto *texts = new QVBoxLayout;
            texts->setSpacing(1);
            auto *top = new QHBoxLayout;
            top->setSpacing(4);
            auto *keyText = new QLabel(QStringLiteral("密钥 %1：").arg(index + 1) + ServiceKeys::mask(key));
            keyText->setObjectName(QStringLiteral("keyText"));
            keyText->setFont(smaller(1.0, true));
            top->addWidget(keyText);
            if (index == keys.active) {
                auto *badge = new QLabel(QStringLiteral("正在用"));
                badge->setObjectName(QStringLiteral("activeBadge"));
                badge->setFont(smaller(0.8));
                badge->setStyleSheet(QStringLiteral("QLabel { background: rgba(0, 122, 255, 64); "
                                                    "border-radius: 7px; padding: 0 5px; }"));
                top->addWidget(badge);
            }
            top->addStretch(1);
            texts->addLayout(top);
            auto *quota = new QLabel;
            quota->setObjectName(QStringLiteral("quotaLine"));
            quota->setWordWrap(true);
            quota->setFont(smaller(0.9));
            const auto found = m_model.keys().elevenLabsQuotas().constFind(key);
            if (found == m_model.keys().elevenLabsQuotas().constEnd()) {
                // A query that ended without a figure leaves no line.
                const bool querying = m_model.keys().queryingQuota(key);
                quota->setText(querying ? QStringLiteral("正在查询积分…") : QString());
                quota->setVisible(querying);
                colour(quota, secondaryColor());
            } else {
                quota->setText(found->text());
                colour(quota, found->warning() ? warningColor() : secondaryColor());
            }
            texts->addWidget(quota);
            rowLayout->addLayout(texts, 1);
            if (index != keys.active) {
                auto *use = new QPushButton(QStringLiteral("用这个"));
                use->setObjectName(QStringLiteral("useKey"));
                connect(use, &QPushButton::clicked, this, [this, index] { m_model.keys().useElevenLabsKey(index); });
                rowLayout->addWidget(use, 0, Qt::AlignTop);
            }
            auto *remove = new QPushButton(QStringLiteral("删除"));
            remove->setObjectName(QStringLiteral("removeKey"));
            connect(remove, &QPushButton::clicked, this, [this, index] { m_model.keys().removeElevenLabsKey(index); });
            rowLayout->addWidget(remove, 0, Qt::AlignTop);
            listColumn->addWidget(row);
        }
        list->setVisible(!keys.keys.isEmpty());
        failover->setVisible(keys.keys.size() >= 2);

        const KeyStatus keyStatus = m_model.keys().keyStatus(KeyProvider::elevenLabs);
        const QString statusText = keyStatus.text();
        const bool showStatus = !keys.keys.isEmpty() && !statusText.isEmpty()
            && keyStatus.kind != KeyStatus::Kind::ok;
        status->setText(showStatus ? statusText : QString());
        colour(status, isOrangeStatus(keyStatus) ? warningColor() : secondaryColor());
        status->setVisible(showStatus);

        field->setPlaceholderText(keys.keys.isEmpty() ? QStringLiteral("粘贴 ElevenLabs 的 API Key")
                                                      : QStringLiteral("再加一个 ElevenLabs 密钥"));
        add->setText(keys.keys.isEmpty() ? QStringLiteral("保存") : QStringLiteral("添加"));
    });
    return card;
}

QWidget *SettingsView::singleKeyRow(KeyProvider provider)
{
    QVBoxLayout *column = nullptr;
    QFrame *card = innerCard(4, column);
    card->setProperty("provider", KeyProviders::toString(provider));
    column->addLayout(providerHeader(provider));

    auto *maskedLine = new QLabel;
    maskedLine->setObjectName(QStringLiteral("maskedKey"));
    maskedLine->setFont(smaller(1.0, true));
    column->addWidget(maskedLine);

    auto *inputRow = new QHBoxLayout;
    QLineEdit *field = keyField(KeyProviders::toString(provider) + QStringLiteral("Field"));
    m_keyInputs.insert(provider, field);
    auto *saveButton = new QPushButton(QStringLiteral("保存"));
    saveButton->setObjectName(KeyProviders::toString(provider) + QStringLiteral("Save"));
    auto *remove = new QPushButton(QStringLiteral("删除"));
    remove->setObjectName(KeyProviders::toString(provider) + QStringLiteral("Remove"));
    inputRow->addWidget(field, 1);
    inputRow->addWidget(saveButton);
    inputRow->addWidget(remove);
    column->addLayout(inputRow);
    saveButton->setEnabled(false);
    connect(field, &QLineEdit::textChanged, saveButton,
            [saveButton](const QString &text) { saveButton->setEnabled(hasBlankTrimmedText(text)); });
    connect(field, &QLineEdit::returnPressed, this, [this, provider] { save(provider); });
    connect(saveButton, &QPushButton::clicked, this, [this, provider] { save(provider); });
    connect(remove, &QPushButton::clicked, this, [this, provider, field] {
        m_model.keys().saveKey(provider, QString());
        field->clear();
    });

    auto *status = new QLabel;
    status->setObjectName(QStringLiteral("keyStatusLine"));
    status->setWordWrap(true);
    status->setFont(smaller(0.9));
    column->addWidget(status);
    auto *balance = new QLabel;
    balance->setObjectName(QStringLiteral("balanceLine"));
    balance->setWordWrap(true);
    balance->setFont(smaller(0.9));
    colour(balance, secondaryColor());
    column->addWidget(balance);

    follow([this, provider, maskedLine, field, remove, status, balance] {
        const bool has = provider == KeyProvider::deepSeek ? m_model.keys().hasDeepSeekKey()
                                                           : m_model.keys().hasElevenLabsKey();
        const std::optional<QString> mask = has ? m_model.keys().maskedKey(provider) : std::nullopt;
        maskedLine->setText(mask ? QStringLiteral("密钥：") + *mask : QString());
        maskedLine->setVisible(mask.has_value());
        field->setPlaceholderText(has ? QStringLiteral("重新粘贴可以替换")
                                      : QStringLiteral("粘贴 ") + textsOf(provider).name
                                            + QStringLiteral(" 的 API Key"));
        remove->setVisible(has);

        const KeyStatus keyStatus = m_model.keys().keyStatus(provider);
        const QString text = keyStatus.text();
        status->setVisible(has && !text.isEmpty());
        status->setText(has ? text : QString());
        colour(status, isOrangeStatus(keyStatus)            ? warningColor()
                           : keyStatus.kind == KeyStatus::Kind::ok ? okColor()
                                                                   : secondaryColor());
        const auto found = m_model.keys().balances().constFind(provider);
        const bool showBalance = has && found != m_model.keys().balances().constEnd();
        balance->setText(showBalance ? found->text() : QString());
        balance->setVisible(showBalance);
    });
    return card;
}

void SettingsView::addElevenLabs()
{
    QLineEdit *field = m_keyInputs.value(KeyProvider::elevenLabs);
    const QString key = field->text().trimmed();
    if (key.isEmpty())
        return;
    m_model.keys().addElevenLabsKey(key);
    field->clear();
}

void SettingsView::save(KeyProvider provider)
{
    QLineEdit *field = m_keyInputs.value(provider);
    const QString key = field->text().trimmed();
    if (key.isEmpty())
        return;
    m_model.keys().saveKey(provider, key);
    field->clear();
}
