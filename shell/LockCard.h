#ifndef TAVLO_LOCKCARD_H
#define TAVLO_LOCKCARD_H

#include <QString>
#include <QTimer>
#include <QWidget>

// The teacher's "eyes to the front": while locked, a card covers the whole
// desktop (every screen, above every window, without the window manager's
// say) with the teacher's text, and takes the keyboard and the pointer (X
// grabs), so nothing the student types or clicks reaches any window. The
// screen is still shared, and a stream the teacher shows appears over the
// card (the viewer's window is mapped later, so it stands above it) while
// the input stays taken. Nothing of a lock is kept: a new process starts
// unlocked. The grabs are tried again every REGRAB_MS while locked (another
// program may hold one for a moment, an open menu for instance).
// GUI thread.
class LockCard : public QWidget {
    Q_OBJECT
public:
    static constexpr int REGRAB_MS = 1000;
    // The card's window title, for the tests and for anyone looking.
    static const char* const TITLE;

    explicit LockCard(QWidget* parent = nullptr);

    // Covers the desktop with text (as HostCommand::lockText made it;
    // empty: Classroom's default), or changes the text of a card already
    // shown, and takes the input.
    void lock(const QString& text);
    // Gives the desktop and the input back.
    void unlock();
    bool locked() const { return locked_; }
    QString text() const { return text_; }
    // Whether both grabs were held at the last try.
    bool grabbed() const { return grabbed_; }

protected:
    void paintEvent(QPaintEvent* e) override;

private:
    void cover();
    void grab();

    QString text_;
    bool locked_ = false;
    bool grabbed_ = false;
    int grabSaid_ = -1;  // what the last line said: 1 taken, 0 not, -1 nothing yet
    QTimer regrab_;
};

#endif
