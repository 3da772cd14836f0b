#pragma once

#include <QWidget>

// A secondary window that takes keyboard input and stays above other applications' windows,
// for the settings, statistics, chat and import windows. Its controller keeps it (closing only
// hides it) and shows it through WindowPlacement::present. Qt's own editing keys serve its
// text fields; Ctrl+W closes it.
class FloatingWindow : public QWidget {
    Q_OBJECT

public:
    explicit FloatingWindow(QWidget *parent = nullptr);

    // Raises every floating window on screen, and a dialog open over one, again: called when
    // the caption panel, which is above other windows too, is shown after them.
    static void raiseShown();
};
