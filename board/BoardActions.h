#ifndef TAVLO_BOARDACTIONS_H
#define TAVLO_BOARDACTIONS_H

#include <QObject>
#include <QString>
#include <QStringList>
#include <vector>

class BoardWidget;
class QAction;
class QKeyEvent;

// The board's operations as QActions, one per operation, each carrying its
// text and its shortcuts. They are added to the board widget (shortcuts of
// the board's window); the toolbar and the page strip trigger the same
// objects, and a key that reaches the board without having been taken as a
// shortcut triggers its action too (trigger()). So a key, a button and a
// gesture are one operation. GUI thread.
//
// Names and keys: tool_pen P, tool_eraser_rect E, tool_eraser_free T,
// pen_soft S, pen_hard H, colour_0..colour_5 1..6, size_0..size_2 7..9,
// undo Ctrl+Z, redo Ctrl+Y and Ctrl+Shift+Z, clear Delete, page_new Ctrl+N,
// page_prior Page Up, page_next Page Down, page_delete Ctrl+Delete,
// page_duplicate Ctrl+D, page_earlier Ctrl+Shift+Page Up, page_later
// Ctrl+Shift+Page Down, background B, grid G, grid_size Shift+G, save_png
// Ctrl+S, save_pdf Ctrl+P, reopen Ctrl+O, open_document Ctrl+Shift+O,
// full_screen F11.
class BoardActions : public QObject {
    Q_OBJECT

public:
    explicit BoardActions(BoardWidget* board);

    // The action of that name, or null.
    QAction* action(const QString& name) const;
    QStringList names() const;
    // Triggers the action one of whose shortcuts the key event is; false
    // when it is none's.
    bool trigger(QKeyEvent* event) const;

private:
    QAction* add(const QString& name, const QString& text, const QStringList& keys);

    BoardWidget* board_;
    std::vector<QAction*> actions_;  // children of this object
};

#endif
