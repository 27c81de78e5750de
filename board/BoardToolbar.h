#ifndef TAVLO_BOARDTOOLBAR_H
#define TAVLO_BOARDTOOLBAR_H

#include <QPoint>
#include <QPixmap>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <vector>

class BoardWidget;
class QAction;
class QImgBtn;
class QLabel;

// The whiteboard's toolbar: image buttons for everything the board's keyboard
// shortcuts do, for a touch screen without a keyboard. A child of the board
// window floating over the board (the board keeps its size). Each button
// triggers the board's actions (BoardActions) that carry its shortcut, so a
// button and its key are one operation. The toolbar's own button collapses it
// to that one button and, dragged, moves the toolbar to the nearest edge of
// the window. Touches and clicks on the toolbar go to its buttons only, never
// to the board. GUI thread.
class BoardToolbar : public QWidget {
    Q_OBJECT

public:
    enum Edge { Top, Bottom, Left, Right };

    // pagesAction, when given, is the window's action that shows or hides the
    // strip of page thumbnails (its button "pages").
    BoardToolbar(BoardWidget* board, QWidget* parent, QAction* pagesAction = nullptr);
    ~BoardToolbar() override;

    // The button of the given name ("toolbar", "pen_soft", "colour_0", ...),
    // or null.
    QImgBtn* button(const QString& name) const;
    QStringList buttonNames() const;
    // The actions a button triggers, in order.
    std::vector<QAction*> actionsOf(const QString& name) const;
    // The "page n of m" label.
    QLabel* pageLabel() const { return label; }
    // Names of the buttons shown selected: the tool, the colour and the size.
    QStringList selected() const { return selection; }

    bool isCollapsed() const { return collapsed; }
    void setCollapsed(bool collapse);
    Edge edge() const { return side; }
    // Puts the toolbar on edge, its centre at the fraction along (0..1) of
    // that edge as far as it fits.
    void moveToEdge(Edge edge, double along);

    // Re-reads the board: selection and page label (after a button, and on
    // every repaint of the board, so that keys show too).
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Item {
        QString name;
        QWidget* widget;  // a QImgBtn, or the page label
        std::vector<QAction*> actions;
        // Normal, hover and pressed picture, a row the button keeps a pointer
        // to: allocated on its own so that it stays where it is. Owned.
        QPixmap** pictures;
    };

    void addButton(const QString& name, std::vector<QAction*> actions);
    // The board's actions of these names.
    std::vector<QAction*> boardActions(const QStringList& names) const;
    void relayout();
    // Dragging by the toolbar button or the toolbar's background; global
    // positions. dragEnd returns whether the pointer moved far enough to be
    // a drag (then it is no click).
    void dragStart(QPoint global);
    void dragMove(QPoint global);
    bool dragEnd(QPoint global);

    BoardWidget* board;
    std::vector<Item> items;
    QImgBtn* handle = nullptr;
    QLabel* label = nullptr;
    QStringList selection;
    bool collapsed = false;
    Edge side = Top;
    double along = 0.5;
    bool pressed = false;
    bool dragging = false;
    QPoint pressGlobal;
    QPoint pressTopLeft;
};

#endif
