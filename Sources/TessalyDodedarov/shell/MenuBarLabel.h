#pragma once

#include "display/Branding.h"
#include "speech/Engine.h"

#include <QIcon>
#include <QObject>

class AppModel;

// The tray icon's picture: the menu-bar image for the model's state, centred in a square,
// since tray hosts expect square icons. Emits iconChanged when the mark changes.
class MenuBarLabel final : public QObject {
    Q_OBJECT

public:
    explicit MenuBarLabel(AppModel &model, QObject *parent = nullptr);

    static Branding::Mark mark(const AppModel &model);
    static Branding::Mark mark(bool running, Engine::Phase phase, bool meetingActive);
    Branding::Mark mark() const { return m_mark; }
    QIcon icon() const;
    // The image centred in a transparent square as wide as its longer side.
    static QImage squared(const QImage &image);

signals:
    void iconChanged();

private slots:
    void refresh();

private:
    AppModel &m_model;
    Branding::Mark m_mark = Branding::Mark::none;
};
