#include "BoardToolbar.h"

#include "BoardState.h"
#include "BoardWidget.h"
#include "QImgBtn.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace {

const int CELL = 70;  // button side
const int GAP = 2;    // between buttons
const int PAD = 4;    // around them
// A pointer that moves farther than this from its press drags the toolbar.
const int DRAG_DISTANCE = 16;
const QColor SELECTED(0xf2, 0xb1, 0x34);

}  // namespace

static void registerToolbarResources()
{
    Q_INIT_RESOURCE(toolbar);
}

BoardToolbar::BoardToolbar(BoardWidget* board, QWidget* parent, QAction* pagesAction) : QWidget(parent), board(board)
{
    registerToolbarResources();
    setObjectName("BoardToolbar");
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);

    addButton("toolbar", {});
    // There is no pen button of its own: a pen button also leaves an eraser
    // (P), as a finger cannot press P first.
    addButton("pen_soft", boardActions({"tool_pen", "pen_soft"}));
    addButton("pen_hard", boardActions({"tool_pen", "pen_hard"}));
    for (int i = 0; i < 6; ++i)
        addButton(QString("colour_%1").arg(i), boardActions({QString("colour_%1").arg(i)}));
    for (int i = 0; i < 3; ++i)
        addButton(QString("size_%1").arg(i), boardActions({QString("size_%1").arg(i)}));
    addButton("eraser_rect", boardActions({"tool_eraser_rect"}));
    addButton("eraser_free", boardActions({"tool_eraser_free"}));
    for (const char* name : {"undo", "redo", "clear", "page_new", "page_prior"})
        addButton(name, boardActions({name}));
    label = new QLabel(this);
    label->setObjectName("page");
    label->setFixedSize(CELL, CELL);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setStyleSheet("QLabel { color: white; background: rgba(29, 42, 48, 225); border-radius: 10px;"
                         " font-size: 15px; font-weight: bold; }");
    items.push_back({"page", label, {}, nullptr});
    addButton("page_next", boardActions({"page_next"}));
    if (pagesAction != nullptr)
        addButton("pages", {pagesAction});
    for (const char* name : {"background", "grid", "grid_size", "open_document", "save_png", "save_pdf", "reopen",
                             "full_screen"})
        addButton(name, boardActions({name}));
    handle = button("toolbar");

    // The handle: a click collapses or expands, a drag moves the toolbar.
    handle->installEventFilter(this);
    connect(handle, &QPushButton::clicked, this, [this]() { setCollapsed(!collapsed); });
    // The board's repaints show key choices; the window's resizes move the
    // toolbar with its edge.
    board->installEventFilter(this);
    parent->installEventFilter(this);
    refresh();
    relayout();
}

BoardToolbar::~BoardToolbar()
{
    // The buttons go first (children), then their pictures.
    for (Item& item : items) {
        delete item.widget;
        item.widget = nullptr;
        if (item.pictures != nullptr) {
            for (int state = 0; state < 3; ++state)
                delete item.pictures[state];
            delete[] item.pictures;
            item.pictures = nullptr;
        }
    }
}

std::vector<QAction*> BoardToolbar::boardActions(const QStringList& names) const
{
    std::vector<QAction*> out;
    for (const QString& n : names)
        if (QAction* a = board->action(n))
            out.push_back(a);
    return out;
}

std::vector<QAction*> BoardToolbar::actionsOf(const QString& name) const
{
    for (const Item& item : items)
        if (item.name == name)
            return item.actions;
    return {};
}

void BoardToolbar::addButton(const QString& name, std::vector<QAction*> actions)
{
    Item item{name, nullptr, std::move(actions), new QPixmap*[3]};
    for (int state = 0; state < 3; ++state)
        item.pictures[state] = new QPixmap(QString(":/toolbar/%1_%2.png").arg(name).arg(state));
    auto* btn = new QImgBtn(this, item.pictures);
    // The picture button is its own tool window; here it is one of the
    // toolbar's children.
    btn->setWindowFlags(Qt::Widget);
    btn->setObjectName(name);
    btn->setFixedSize(CELL, CELL);
    btn->setStyleSheet("QPushButton { border: none; padding: 0px; background: transparent; }");
    // The keyboard focus stays on the board, so that shortcuts keep working.
    btn->setFocusPolicy(Qt::NoFocus);
    item.widget = btn;
    if (!item.actions.empty()) {
        QStringList tips;
        for (QAction* a : item.actions) {
            const QString keys = a->shortcut().toString(QKeySequence::NativeText);
            tips << (keys.isEmpty() ? a->text() : QString("%1 (%2)").arg(a->text(), keys));
        }
        btn->setToolTip(tips.join(QStringLiteral(", ")));
        const std::vector<QAction*> acts = item.actions;
        connect(btn, &QPushButton::clicked, this, [this, acts]() {
            for (QAction* a : acts)
                a->trigger();
            refresh();
        });
    }
    items.push_back(item);
}

QImgBtn* BoardToolbar::button(const QString& name) const
{
    for (const Item& item : items)
        if (item.name == name && item.widget != label)
            return static_cast<QImgBtn*>(item.widget);
    return nullptr;
}

QStringList BoardToolbar::buttonNames() const
{
    QStringList names;
    for (const Item& item : items)
        if (item.widget != label)
            names << item.name;
    return names;
}

void BoardToolbar::refresh()
{
    QStringList now;
    now << (eraserStatus == ES_ERASER_RECT   ? "eraser_rect"
            : eraserStatus == ES_ERASER_TRAP ? "eraser_free"
            : penModelIdx == 0               ? "pen_soft"
                                             : "pen_hard");
    now << QString("colour_%1").arg(penColorIdx) << QString("size_%1").arg(penSizeIdx);
    const QString text = QString("page %1 of %2").arg(pageIdx + 1).arg(pages.size());
    if (label->text() != text)
        label->setText(text);
    if (now != selection) {
        selection = now;
        update();
    }
}

void BoardToolbar::setCollapsed(bool collapse)
{
    if (collapse == collapsed)
        return;
    collapsed = collapse;
    relayout();
}

void BoardToolbar::moveToEdge(Edge edge, double at)
{
    side = edge;
    along = std::min(1.0, std::max(0.0, at));
    relayout();
}

// Buttons in rows along a top or bottom edge, in columns along a left or
// right one, as many lines as the window needs.
void BoardToolbar::relayout()
{
    QWidget* p = parentWidget();
    const int W = p->width(), H = p->height();
    const bool across = side == Top || side == Bottom;
    const int n = collapsed ? 1 : static_cast<int>(items.size());
    const int room = (across ? W : H) - 2 * PAD + GAP;
    int perLine = std::max(1, room / (CELL + GAP));
    const int lines = (n + perLine - 1) / perLine;
    perLine = (n + lines - 1) / lines;  // lines of even length
    for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        QWidget* w = items[i].widget;
        if (i >= n) {
            w->hide();
            continue;
        }
        const int line = i / perLine, pos = i % perLine;
        const int a = PAD + pos * (CELL + GAP), b = PAD + line * (CELL + GAP);
        w->move(across ? QPoint(a, b) : QPoint(b, a));
        w->show();
    }
    const int length = 2 * PAD + perLine * CELL + (perLine - 1) * GAP;
    const int depth = 2 * PAD + lines * CELL + (lines - 1) * GAP;
    const QSize size = across ? QSize(length, depth) : QSize(depth, length);
    const int centre = static_cast<int>(std::lround(along * (across ? W : H)));
    int x, y;
    if (across) {
        x = std::max(0, std::min(W - size.width(), centre - size.width() / 2));
        y = side == Top ? 0 : std::max(0, H - size.height());
    } else {
        y = std::max(0, std::min(H - size.height(), centre - size.height() / 2));
        x = side == Left ? 0 : std::max(0, W - size.width());
    }
    setGeometry(QRect(QPoint(x, y), size));
    raise();
    update();
}

void BoardToolbar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 90));
    p.drawRoundedRect(QRectF(rect()), 12, 12);
    // The selected buttons stand on a bright square that shows in the
    // margin of their pictures.
    p.setBrush(SELECTED);
    for (const Item& item : items)
        if (item.widget->isVisible() && selection.contains(item.name))
            p.drawRoundedRect(QRectF(item.widget->geometry()), 12, 12);
}

bool BoardToolbar::eventFilter(QObject* watched, QEvent* e)
{
    if (watched == board && e->type() == QEvent::Paint) {
        refresh();
    } else if (watched == parentWidget() && e->type() == QEvent::Resize) {
        relayout();
    } else if (watched == handle && (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseMove ||
                                     e->type() == QEvent::MouseButtonRelease)) {
        auto* m = static_cast<QMouseEvent*>(e);
        if (e->type() == QEvent::MouseButtonPress && m->button() == Qt::LeftButton) {
            dragStart(m->globalPos());
        } else if (e->type() == QEvent::MouseMove && pressed) {
            dragMove(m->globalPos());
        } else if (e->type() == QEvent::MouseButtonRelease && m->button() == Qt::LeftButton && pressed) {
            if (dragEnd(m->globalPos())) {
                // A drag is no click: the button only comes up.
                handle->setDown(false);
                handle->setIcon(*handle->icons[0]);
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, e);
}

void BoardToolbar::mousePressEvent(QMouseEvent* e)
{
    // The background between the buttons: takes the press so that it never
    // reaches the board, and starts a drag.
    if (e->button() == Qt::LeftButton)
        dragStart(e->globalPos());
    e->accept();
}

void BoardToolbar::mouseMoveEvent(QMouseEvent* e)
{
    if (pressed)
        dragMove(e->globalPos());
    e->accept();
}

void BoardToolbar::mouseReleaseEvent(QMouseEvent* e)
{
    if (pressed && e->button() == Qt::LeftButton)
        dragEnd(e->globalPos());
    e->accept();
}

void BoardToolbar::dragStart(QPoint global)
{
    pressed = true;
    dragging = false;
    pressGlobal = global;
    pressTopLeft = pos();
}

void BoardToolbar::dragMove(QPoint global)
{
    const QPoint d = global - pressGlobal;
    if (!dragging && d.manhattanLength() > DRAG_DISTANCE)
        dragging = true;
    if (dragging) {
        // Follows the pointer, inside the window.
        QWidget* p = parentWidget();
        const int x = std::max(0, std::min(p->width() - width(), pressTopLeft.x() + d.x()));
        const int y = std::max(0, std::min(p->height() - height(), pressTopLeft.y() + d.y()));
        move(x, y);
    }
}

bool BoardToolbar::dragEnd(QPoint global)
{
    pressed = false;
    if (!dragging)
        return false;
    dragging = false;
    // Lands on the window edge nearest to where the pointer let go.
    QWidget* p = parentWidget();
    const QPoint at = p->mapFromGlobal(global);
    const int W = p->width(), H = p->height();
    const int dist[4] = {at.y(), H - at.y(), at.x(), W - at.x()};
    const int nearest = static_cast<int>(std::min_element(dist, dist + 4) - dist);
    const Edge e = static_cast<Edge>(nearest);
    const bool across = e == Top || e == Bottom;
    moveToEdge(e, across ? double(at.x()) / std::max(1, W) : double(at.y()) / std::max(1, H));
    return true;
}
