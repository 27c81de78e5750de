#ifndef TAVLO_VIEWERCONTROL_H
#define TAVLO_VIEWERCONTROL_H

#include <QObject>
#include <QString>
#include <optional>
#include <utility>

class QPullThread;

// Owns the viewer for the GUI thread: shows a stream, switches to another,
// stops, without ever waiting for the viewer thread. A running viewer is
// pointed at the new address (QPullThread::switchTo); a viewer that is
// ending finishes on its own and is reaped when it has (its finished signal),
// and only then does a show that came meanwhile start the next one, so that
// one viewer thread at most exists and a burst of commands acts on the last
// one only. The current viewer is the global pullThread.
//
// GUI thread only. The destructor stops the viewer and waits for it: the
// process is ending.
class ViewerControl : public QObject {
public:
    explicit ViewerControl(QObject* parent = nullptr);
    ~ViewerControl() override;

    // Shows the stream at url (replacing what is shown; the same address
    // again changes nothing while its viewer runs), by multicast first when
    // multicast is set (QPullThread::play).
    void show(const QString& url, bool multicast = false);
    // Stops showing; the window closes.
    void stop();

private:
    // Deletes the viewer once its thread has finished, then starts the show
    // that waited for it, if any.
    void reap();
    void start(const QString& url, bool multicast);

    // A show that waits for the ending viewer: its address and whether it
    // is to be taken by multicast first.
    std::optional<std::pair<QString, bool>> pending_;
};

#endif
