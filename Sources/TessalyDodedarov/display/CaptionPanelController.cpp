#include "display/CaptionPanelController.h"

#include "common/UserDefaults.h"
#include "display/CaptionPanel.h"
#include "display/CaptionView.h"
#include "display/FloatingWindow.h"
#include "display/HoverView.h"
#include "display/ResizeHandle.h"
#include "display/WindowPlacement.h"
#include "model/AppModel.h"
#include "platform/x11/X11Desktop.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

const QString expandedHeightKey = QStringLiteral("expandedHeight");

QScreen *screenUnderCursor()
{
    if (QScreen *screen = QGuiApplication::screenAt(QCursor::pos()))
        return screen;
    return QGuiApplication::primaryScreen();
}

}

CaptionPanelController::CaptionPanelController(AppModel *model, QObject *parent)
    : QObject(parent)
    , m_model(model)
{
    const double size = model->appearance().chineseSize;
    const int h = captionHeight(size, model->mode() == DisplayMode::both);
    m_lastFontSize = size;

    m_panel = new CaptionPanel;
    m_panel->resize(680, h);

    m_hover = new HoverView;
    QPointer<AppModel> weakModel = model;
    m_hover->onHover = [weakModel](bool inside) {
        if (weakModel)
            weakModel->setHovering(inside);
    };
    m_view = new CaptionView(model, m_hover);
    auto *fill = new QVBoxLayout(m_hover);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(m_view);
    for (ResizeHandle::Edge edge : ResizeHandle::allCases)
        m_resizeHandles.push_back(new ResizeHandle(edge, m_panel, m_hover));
    m_panel->setContent(m_hover);

    restoreFrame();
    connect(m_panel, &CaptionPanel::frameChanged, this, &CaptionPanelController::frameChanged);

    // The same path as the panel's own minimise button, so the model's visibility follows.
    m_panel->onCloseRequest = [weakModel] {
        if (weakModel)
            weakModel->minimize();
    };

    QPointer<CaptionPanel> weakPanel = m_panel;
    WindowPlacement::captionFrame = [weakPanel]() -> std::optional<QRect> {
        if (weakPanel && weakPanel->isVisible())
            return weakPanel->geometry();
        return std::nullopt;
    };

    applyHeight(size, model->mode() == DisplayMode::both, model->expanded());
    applySharing(model->hideFromSharing());
    reportWidth();

    // Each follows the model a turn later, and runs once, also a turn later, with the current
    // value: that is how the panel is first shown.
    const auto follow = [this, model](auto signal, auto action) {
        connect(model, signal, this, action, Qt::QueuedConnection);
        QMetaObject::invokeMethod(this, action, Qt::QueuedConnection);
    };
    follow(&AppModel::appearanceChanged, [this] {
        if (!m_model || m_model->appearance().chineseSize == m_lastFontSize)
            return;
        m_lastFontSize = m_model->appearance().chineseSize;
        applyCurrentHeight();
    });
    follow(&AppModel::modeChanged, [this] { applyCurrentHeight(); });
    follow(&AppModel::expandedChanged, [this] { applyCurrentHeight(); });
    follow(&AppModel::maximizedChanged, [this] {
        if (m_model)
            applyMaximized(m_model->maximized());
    });
    follow(&AppModel::hideFromSharingChanged, [this] {
        if (m_model)
            applySharing(m_model->hideFromSharing());
    });
    follow(&AppModel::panelVisibleChanged, [this] {
        if (m_model)
            applyVisible(m_model->panelVisible());
    });
}

CaptionPanelController::~CaptionPanelController()
{
    WindowPlacement::captionFrame = [] { return std::optional<QRect>(); };
    delete m_panel;
}

void CaptionPanelController::setContextMenu(QMenu *menu)
{
    m_panel->setContextMenu(menu);
}

int CaptionPanelController::captionHeight(double s, bool showEnglish)
{
    double h = std::ceil(s * 1.4) * 2 + 20;
    if (showEnglish)
        h += std::ceil(std::max(s * 0.5, 12.0) * 1.5) + 4;
    return int(h);
}

double CaptionPanelController::storedExpandedHeight()
{
    const std::optional<double> stored = UserDefaults::real(expandedHeightKey);
    if (!stored || !std::isfinite(*stored) || *stored < 0 || *stored > 10000)
        return 340;
    return *stored;
}

std::optional<QRect> CaptionPanelController::parseFrame(const QString &text)
{
    const QStringList parts = text.split(u' ', Qt::SkipEmptyParts);
    if (parts.size() != 4)
        return std::nullopt;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts.at(i).toInt(&ok);
        if (!ok || std::abs(values[i]) > 100000)
            return std::nullopt;
    }
    if (values[2] <= 0 || values[3] <= 0)
        return std::nullopt;
    return QRect(values[0], values[1], values[2], values[3]);
}

QString CaptionPanelController::frameText(const QRect &frame)
{
    return QStringLiteral("%1 %2 %3 %4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height());
}

void CaptionPanelController::restoreFrame()
{
    const std::optional<QString> text = UserDefaults::text(QString::fromLatin1(frameKey));
    const std::optional<QRect> stored = text ? parseFrame(*text) : std::nullopt;
    QScreen *screen = screenUnderCursor();
    if (stored) {
        bool onScreen = false;
        for (QScreen *each : QGuiApplication::screens())
            onScreen = onScreen || each->geometry().intersects(*stored);
        QRect frame = *stored;
        if (!onScreen && screen) {
            // Stored on a screen that is gone: the same size where a first placement would go.
            frame.moveTopLeft(WindowPlacement::firstCaptionFrame(screen->availableGeometry()).topLeft());
        }
        m_panel->setFrame(frame);
        return;
    }
    if (!screen)
        return;
    const QRect first = WindowPlacement::firstCaptionFrame(screen->availableGeometry());
    UserDefaults::setReal(expandedHeightKey, first.height());
    m_panel->setFrame(first);
}

void CaptionPanelController::applyCurrentHeight()
{
    if (!m_model)
        return;
    applyHeight(m_model->appearance().chineseSize, m_model->mode() == DisplayMode::both,
                m_model->expanded());
}

void CaptionPanelController::applyHeight(double fontSize, bool showEnglish, bool expanded)
{
    if (!m_model || m_model->maximized())
        return;
    const int h = captionHeight(fontSize, showEnglish);
    double target = h;
    if (expanded) {
        const int minimum = std::max(h, 130);
        m_panel->setLimits(QSize(360, minimum), QSize(2400, 1600));
        // Not cut to the maximum: only the grips keep to it.
        target = std::max(double(minimum), storedExpandedHeight());
    } else {
        m_panel->setLimits(QSize(360, h), QSize(2400, h));
    }
    const QRect frame = m_panel->geometry();
    if (std::abs(frame.height() - target) > 0.5) {
        const int height = int(std::lround(target));
        // The bottom edge stays; the top moves.
        m_panel->setFrame(QRect(frame.x(), frame.y() + frame.height() - height, frame.width(), height));
    }
}

void CaptionPanelController::applyMaximized(bool on)
{
    for (ResizeHandle *grip : m_resizeHandles)
        grip->setHidden(on);
    if (!on) {
        if (!m_frameBeforeMaximize)
            return;
        const QRect frame = *m_frameBeforeMaximize;
        m_frameBeforeMaximize.reset();
        m_panel->setFrame(frame);
        reportWidth();
        applyCurrentHeight();
        return;
    }
    if (m_frameBeforeMaximize)
        return;
    m_frameBeforeMaximize = m_panel->geometry();
    QScreen *screen = m_panel->screen();
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    m_panel->setLimits(QSize(360, 200), QSize(10000, 10000));
    m_panel->setFrame(screen->availableGeometry());
    reportWidth();
}

void CaptionPanelController::applySharing(bool)
{
    // Followed without effect: no Linux display server lets a window leave itself out of
    // screen captures (CaptionPanel::canHideFromSharing is false), and the settings say so.
}

void CaptionPanelController::applyVisible(bool visible)
{
    if (!visible) {
        m_panel->hide();
        return;
    }
    // The native window must exist before the desktop properties go on it.
    m_panel->winId();
    QWindow *window = m_panel->windowHandle();
    X11Desktop::keepOnAllDesktopsBeforeShow(window);
    m_panel->show();
    // Qt's offscreen platform only warns about raising.
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        m_panel->raise();
    X11Desktop::keepOnAllDesktopsAfterShow(window);
    // The panel shown after a floating window (at launch, the settings) must not cover it.
    FloatingWindow::raiseShown();
    // Translucent pixels need a compositing manager; without one the background is opaque.
    m_view->setOpaque(X11Desktop::available() && !X11Desktop::compositingManagerRunning(window));
}

void CaptionPanelController::frameChanged()
{
    if (!m_model)
        return;
    reportWidth();
    const QRect frame = m_panel->geometry();
    if (m_model->expanded() && !m_model->maximized())
        UserDefaults::setReal(expandedHeightKey, frame.height());
    UserDefaults::setText(QString::fromLatin1(frameKey), frameText(frame));
}

void CaptionPanelController::reportWidth()
{
    if (!m_model)
        return;
    const double w = m_panel->geometry().width();
    if (std::abs(w - m_model->panelWidth) > 0.5) {
        m_model->panelWidth = w;
        m_model->relayout();
    }
}
