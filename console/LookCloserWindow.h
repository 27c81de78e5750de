#ifndef TAVLO_LOOKCLOSERWINDOW_H
#define TAVLO_LOOKCLOSERWINDOW_H

#include "StreamPuller.h"

#include <QHostAddress>
#include <QTimer>
#include <QWidget>
#include <memory>

class Console;
class QLabel;

// A closer look at one group: its full stream (cam_passby_chn0), live, in a
// window of the console, the picture fitted to the window with its aspect
// kept, with "Show this to all" and "Close" (or Esc). The stream is pulled while the
// window is open, and let go when it closes. GUI thread.
class LookCloserWindow : public QWidget {
    Q_OBJECT
public:
    LookCloserWindow(Console* console, int group, const QHostAddress& address, int livePort,
                     QWidget* parent = nullptr);
    ~LookCloserWindow() override;

    int group() const { return group_; }
    // The stream it plays.
    QString url() const { return puller_->url(); }
    // Pictures decoded so far.
    qint64 pictures() const { return shownPictures_; }
    // Sets the title with the group's name (may be empty).
    void setName(const QString& name);

Q_SIGNALS:
    // "Show this to all" was pressed: its result line.
    void commandDone(const QString& result);

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void refresh();

    Console* console_;
    const int group_;
    std::unique_ptr<StreamPuller> puller_;
    QLabel* picture_;
    QLabel* status_;
    QTimer timer_;
    qint64 shownPictures_ = 0;
};

#endif
