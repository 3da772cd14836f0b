#pragma once

#include <QList>
#include <QUrl>
#include <QWidget>

#include <functional>

// The import window's drop zone: a rounded, dashed-bordered area that takes drops of URLs and
// lights up while a drag carrying URLs is over it. What a drop does is decided by its owner
// through `dropped`, at the moment of the drop, so a refused drop is reported to the source as
// refused. Its children are laid out by the owner.
class ImportDropZone final : public QWidget {
    Q_OBJECT

public:
    explicit ImportDropZone(QWidget *parent = nullptr);

    // Takes or refuses the URLs of a drop; true takes them.
    std::function<bool(const QList<QUrl> &urls)> dropped = [](const QList<QUrl> &) { return false; };

    // True while a drag carrying URLs is over the zone.
    bool targeted() const { return m_targeted; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void setTargeted(bool targeted);

    bool m_targeted = false;
};
