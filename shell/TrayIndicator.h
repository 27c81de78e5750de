#ifndef TAVLO_TRAYINDICATOR_H
#define TAVLO_TRAYINDICATOR_H

#include <QIcon>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class QSystemTrayIcon;

// Tells the student when the terminal's screen is being watched: while the
// count source gives more than 0 (the clients playing this terminal's full
// stream: being shown, or looked at closely), the tray icon carries a red
// dot and its tooltip says so; within a second of the count falling to 0
// both are back. The teacher's console looking at the thumbnail (the
// lookers source: clients of the small stream) is no watching: no dot, a
// plain line in the tooltip (LOOKING_TEXT). The sources are polled every
// POLL_MS on the GUI thread, so they must be cheap and thread-safe.
class TrayIndicator : public QObject {
    Q_OBJECT
public:
    static constexpr int POLL_MS = 250;

    // tray is not owned and must outlive this object; its icon and tooltip
    // at this moment are the ones shown while nobody watches.
    TrayIndicator(QSystemTrayIcon* tray, std::function<int()> count, std::function<int()> lookers = {},
                  QObject* parent = nullptr);

    // Starts polling (and polls once at once).
    void start();
    // GUI thread: reads the count and updates the icon and tooltip.
    void poll();
    bool watched() const { return watched_; }

    // The tooltip's line while n clients watch.
    static QString watchedToolTip(int n);
    // The tooltip's line while the teacher's console looks ("the teacher is
    // looking").
    static QString lookingText();
    // The tooltip for n watchers and whether the console looks; normal: the
    // tooltip when neither.
    static QString toolTip(int n, bool looking, const QString& normal);
    // base with a red dot in its lower right corner.
    static QIcon watchedIcon(const QIcon& base);

private:
    QSystemTrayIcon* tray_;
    std::function<int()> count_, lookers_;
    QIcon normalIcon_, watchedIcon_;
    QString normalToolTip_;
    QTimer timer_;
    bool watched_ = false;
    int shownCount_ = 0;
    bool looking_ = false;
};

#endif
