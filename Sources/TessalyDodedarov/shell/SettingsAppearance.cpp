#include "shell/SettingsView.h"

#include "captions/FontFamilies.h"
#include "display/Colors.h"
#include "display/InterfaceFonts.h"
#include "model/AppModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace {

RGBA fromColor(const QColor &picked)
{
    QColor color = picked.toRgb();
    return {color.redF(), color.greenF(), color.blueF(), color.alphaF()};
}

// One preset tile: a preview of the preset's colours over its title; pressing it applies it.
class SkinTile final : public QAbstractButton {
public:
    explicit SkinTile(const CaptionSkin &skin)
        : m_skin(skin)
    {
        setObjectName(QStringLiteral("skinTile"));
        setProperty("skin", skin.id);
        setMinimumSize(10, 62);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

    void setSelected(bool on)
    {
        if (on == property("selected").toBool())
            return;
        setProperty("selected", on);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const CaptionAppearance &look = m_skin.appearance;
        const bool selected = property("selected").toBool();
        const QRectF preview(1, 1, width() - 2, 40);
        QPainterPath shape;
        shape.addRoundedRect(preview, 6, 6);
        // Nearly clear backgrounds get a grey backing so the tile is visible at all.
        if (look.background.a < 0.2)
            painter.fillPath(shape, QColor::fromRgbF(0.5, 0.5, 0.5, 0.35f));
        painter.fillPath(shape, Colors::toQColor(look.background));
        QFont chinese = font();
        chinese.setPixelSize(13);
        chinese.setWeight(QFont::DemiBold);
        QFont english = font();
        english.setPixelSize(9);
        const QRectF top(preview.left(), preview.top() + 4, preview.width(), 18);
        const QRectF bottom(preview.left(), preview.top() + 21, preview.width(), 14);
        auto drawLine = [&](const QRectF &rect, const QFont &f, const QString &text, const RGBA &colour) {
            painter.setFont(f);
            if (look.outline) {
                painter.setPen(Qt::black);
                painter.drawText(rect.translated(0.6, 0.6), Qt::AlignCenter, text);
            }
            painter.setPen(Colors::toQColor(colour));
            painter.drawText(rect, Qt::AlignCenter, text);
        };
        drawLine(top, chinese, QStringLiteral("字幕"), look.chineseColor);
        drawLine(bottom, english, QStringLiteral("Caption"), look.englishColor);
        const QPalette pal = QApplication::palette();
        if (selected) {
            painter.setPen(QPen(pal.color(QPalette::Highlight), 2));
        } else {
            QColor line = pal.color(QPalette::PlaceholderText);
            line.setAlphaF(0.3f);
            painter.setPen(QPen(line, 0.5));
        }
        painter.drawPath(shape);
        QFont caption = font();
        if (caption.pointSizeF() > 0)
            caption.setPointSizeF(caption.pointSizeF() * 0.8);
        painter.setFont(caption);
        painter.setPen(selected ? pal.color(QPalette::WindowText) : pal.color(QPalette::PlaceholderText));
        painter.drawText(QRectF(0, 44, width(), height() - 44), Qt::AlignHCenter | Qt::AlignTop, m_skin.title);
    }

private:
    CaptionSkin m_skin;
};

}

QWidget *SettingsView::appearanceSection()
{
    auto *box = new QWidget;
    auto *column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto *skinTitle = new QLabel(QStringLiteral("皮肤"));
    QFont bold = skinTitle->font();
    bold.setWeight(QFont::DemiBold);
    skinTitle->setFont(bold);
    column->addWidget(skinTitle);
    auto *grid = new QGridLayout;
    grid->setSpacing(6);
    for (int i = 0; i < CaptionSkin::all().size(); ++i) {
        grid->addWidget(skinButton(i), i / 4, i % 4);
        grid->setColumnStretch(i % 4, 1);
    }
    column->addLayout(grid);

    QLabel *current = note(QString(), false);
    current->setObjectName(QStringLiteral("skinNote"));
    column->addWidget(current);
    follow([this, current] {
        const std::optional<CaptionSkin> skin = CaptionSkin::named(m_model.appearance().skin);
        setNote(current,
                skin ? QStringLiteral("当前：") + skin->title + QStringLiteral("。下面任何一项改了就是“自定义”。")
                     : QStringLiteral("当前：自定义。点上面的皮肤可以换回预设的配色和字体（字号不变）。"),
                false);
    });

    column->addWidget(sizeRow(QStringLiteral("中文字号"), true));
    column->addWidget(sizeRow(QStringLiteral("英文字号"), false));
    column->addWidget(note(QStringLiteral("开会时按 Ctrl+Alt+= 放大、Ctrl+Alt+- 缩小（中英文一起）。"), false));
    column->addWidget(fontPicker(QStringLiteral("中文字体"), true));
    column->addWidget(fontPicker(QStringLiteral("英文字体"), false));

    auto *wells = new QHBoxLayout;
    wells->setSpacing(16);
    wells->addWidget(colorWell(QStringLiteral("中文"), 0));
    wells->addWidget(colorWell(QStringLiteral("英文"), 1));
    wells->addWidget(colorWell(QStringLiteral("背景"), 2));
    wells->addStretch(1);
    column->addLayout(wells);

    auto *opacityRow = new QHBoxLayout;
    opacityRow->addWidget(new QLabel(QStringLiteral("背景深浅")));
    auto *opacity = new QSlider(Qt::Horizontal);
    opacity->setObjectName(QStringLiteral("backgroundOpacity"));
    // 0…1 without steps of its own: a fine integer range stands in for a continuous slider.
    opacity->setRange(0, 1000);
    opacityRow->addWidget(opacity, 1);
    auto *percent = new QLabel;
    percent->setObjectName(QStringLiteral("opacityPercent"));
    percent->setFixedWidth(40);
    percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QFont tabular = InterfaceFonts::fixedWidth();
    percent->setFont(tabular);
    opacityRow->addWidget(percent);
    column->addLayout(opacityRow);
    connect(opacity, &QSlider::valueChanged, this, [this](int value) {
        m_model.customize([value](CaptionAppearance &look) { look.background.a = value / 1000.0; });
    });
    follow([this, opacity, percent] {
        const double a = m_model.appearance().background.a;
        const QSignalBlocker blocker(opacity);
        opacity->setValue(int(std::lround(a * 1000)));
        percent->setText(QString::number(std::lround(a * 100)) + QLatin1Char('%'));
    });

    auto *outline = new QCheckBox(QStringLiteral("文字描边（背景很淡或透明时更清楚）"));
    column->addWidget(outline);
    connect(outline, &QCheckBox::clicked, this, [this](bool on) {
        m_model.customize([on](CaptionAppearance &look) { look.outline = on; });
    });
    follow([this, outline] { outline->setChecked(m_model.appearance().outline); });

    auto *resetRow = new QHBoxLayout;
    QLabel *fullScreen = note(QStringLiteral("全屏时背景总是不透明。文字和背景颜色太接近时，会自动换成看得清的颜色。"), false);
    resetRow->addWidget(fullScreen, 1);
    auto *reset = new QPushButton(QStringLiteral("恢复默认外观"));
    reset->setObjectName(QStringLiteral("resetAppearance"));
    resetRow->addWidget(reset, 0, Qt::AlignBottom);
    column->addLayout(resetRow);
    connect(reset, &QPushButton::clicked, this, [this] {
        const std::optional<CaptionSkin> tech = CaptionSkin::named(QStringLiteral("tech"));
        CaptionAppearance look = tech ? tech->appearance : CaptionAppearance();
        look.chineseSize = m_model.appearance().chineseSize;
        look.englishSize = m_model.appearance().englishSize;
        look.skin = QStringLiteral("tech");
        m_model.setAppearance(look);
    });
    return box;
}

QWidget *SettingsView::skinButton(int index)
{
    const CaptionSkin &skin = CaptionSkin::all().at(index);
    auto *tile = new SkinTile(skin);
    connect(tile, &QAbstractButton::clicked, this, [this, skin] { m_model.applySkin(skin); });
    follow([this, tile, id = skin.id] { tile->setSelected(m_model.appearance().skin == id); });
    return tile;
}

QWidget *SettingsView::sizeRow(const QString &title, bool chinese)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(title));
    auto *slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(chinese ? QStringLiteral("chineseSize") : QStringLiteral("englishSize"));
    slider->setRange(int(CaptionAppearance::minSize), int(CaptionAppearance::maxSize));
    slider->setSingleStep(1);
    layout->addWidget(slider, 1);
    auto *value = new QLabel;
    value->setObjectName(chinese ? QStringLiteral("chineseSizeValue") : QStringLiteral("englishSizeValue"));
    value->setFixedWidth(28);
    value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    value->setFont(InterfaceFonts::fixedWidth());
    layout->addWidget(value);
    // Every value the slider passes through is applied, so the captions follow the drag.
    connect(slider, &QSlider::valueChanged, this, [this, chinese](int size) {
        m_model.customize([chinese, size](CaptionAppearance &look) {
            (chinese ? look.chineseSize : look.englishSize) = size;
        });
    });
    follow([this, slider, value, chinese] {
        const double size = chinese ? m_model.appearance().chineseSize : m_model.appearance().englishSize;
        const QSignalBlocker blocker(slider);
        slider->setValue(int(std::lround(size)));
        value->setText(QString::number(int(std::trunc(size))));
    });
    return row;
}

QWidget *SettingsView::fontPicker(const QString &title, bool chinese)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(title));
    auto *menu = new QComboBox;
    menu->setObjectName(chinese ? QStringLiteral("chineseFont") : QStringLiteral("englishFont"));
    const QList<FontChoice> &choices = chinese ? FontChoice::chinese() : FontChoice::english();
    QStringList listed;
    for (const FontChoice &choice : choices) {
        menu->addItem(choice.name, choice.family);
        listed.append(choice.family);
    }
    menu->insertSeparator(menu->count());
    for (const QString &family : FontFamilies::plainFamilies(QFontDatabase::families())) {
        if (listed.contains(family) || family.startsWith(QLatin1Char('.')))
            continue;
        listed.append(family);
        menu->addItem(family, family);
    }
    layout->addWidget(menu, 1);
    connect(menu, &QComboBox::activated, this, [this, menu, chinese](int index) {
        const QString family = menu->itemData(index).toString();
        m_model.customize([chinese, family](CaptionAppearance &look) {
            (chinese ? look.chineseFont : look.englishFont) = family;
        });
    });
    follow([this, menu, chinese] {
        const QString &family = chinese ? m_model.appearance().chineseFont : m_model.appearance().englishFont;
        menu->setCurrentIndex(menu->findData(family));
    });
    return row;
}

QWidget *SettingsView::colorWell(const QString &title, int which)
{
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(new QLabel(title));
    auto *well = new QPushButton;
    well->setObjectName(QStringLiteral("colorWell"));
    well->setProperty("well", title);
    well->setFixedSize(36, 20);
    layout->addWidget(well);

    auto shown = [this, which] {
        const CaptionAppearance &look = m_model.appearance();
        RGBA colour = which == 0 ? look.chineseColor : which == 1 ? look.englishColor : look.background;
        // The background well shows its colour opaque; the opacity has its own slider.
        if (which == 2)
            colour.a = 1;
        return Colors::toQColor(colour);
    };
    connect(well, &QPushButton::clicked, this, [this, which, shown, title] {
        const QColor picked = QColorDialog::getColor(shown(), this, title);
        if (!picked.isValid())
            return;
        const RGBA rgba = fromColor(picked);
        m_model.customize([which, rgba](CaptionAppearance &look) {
            if (which == 0) {
                look.chineseColor = rgba;
            } else if (which == 1) {
                look.englishColor = rgba;
            } else {
                look.background.r = rgba.r;
                look.background.g = rgba.g;
                look.background.b = rgba.b;
            }
        });
    });
    follow([well, shown] {
        const QColor colour = shown();
        well->setProperty("color", colour);
        well->setStyleSheet(QStringLiteral("QPushButton { background: %1; border: 1px solid palette(mid); "
                                           "border-radius: 3px; }")
                                .arg(colour.name(QColor::HexRgb)));
    });
    return row;
}
