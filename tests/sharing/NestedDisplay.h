// An X server whose screen can change size while a test runs, as a
// projector or a change of resolution does: Xephyr (which has RandR)
// nested in a private Xvfb, with trayer as system tray so that a terminal
// can run on it.
#ifndef TAVLO_TESTS_NESTEDDISPLAY_H
#define TAVLO_TESTS_NESTEDDISPLAY_H

#include "TestSupport.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

class NestedDisplay {
public:
    // A screen of width x height, at most 1920 x 1200 later on.
    NestedDisplay(int width, int height);
    ~NestedDisplay();
    NestedDisplay(const NestedDisplay&) = delete;
    NestedDisplay& operator=(const NestedDisplay&) = delete;

    bool ok() const { return ok_; }
    QString display() const { return display_; }
    // The process environment with DISPLAY set to the nested server.
    QProcessEnvironment env() const;
    // Gives the screen (root window) a new size through RandR, as xrandr
    // does; true once the root window has it.
    bool resize(int width, int height);

private:
    tsupport::XServer host_;
    QProcess xephyr_;
    QProcess tray_;
    QString display_;
    bool ok_ = false;
};

#endif
