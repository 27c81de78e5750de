#include "BoardWidget.h"

#include "BoardActions.h"
#include "BoardPrivate.h"

#include <QKeyEvent>
#include <QScreen>

// The board window between its own size and the whole screen; the board
// follows with a resize and keeps its pages and view. The window state asks
// the window manager; the geometry is set as well, so that the window fills
// the screen, and comes back, also where no window manager acts on the state
// (which then reads as normal again: a window covering its screen counts as
// full screen). The window's own geometry waits in a property meanwhile.
static void toggleFullScreen(QWidget* w)
{
    static const char* const normalKey = "boardNormalGeometry";
    QScreen* screen = w->screen();
    const bool full = w->isFullScreen() || (screen != nullptr && w->geometry() == screen->geometry());
    if (full) {
        const QRect normal = w->property(normalKey).toRect();
        w->showNormal();
        if (normal.isValid())
            w->setGeometry(normal);
    } else {
        w->setProperty(normalKey, w->geometry());
        w->showFullScreen();
        if (screen != nullptr)
            w->setGeometry(screen->geometry());
    }
}

// ---------------------------------------------------------------------------
// Tools, pens and the keys
// ---------------------------------------------------------------------------

void BoardWidget::keyPressEvent(QKeyEvent* e)
{
    if (!actions_->trigger(e)) {
        QWidget::keyPressEvent(e);
        return;
    }
    e->accept();
}

// A stroke of one tool never goes on with another: a switch ends it.
void BoardWidget::setTool(EraserStatus tool)
{
    if (tool != eraserStatus)
        endStroke();
    eraserStatus = tool;
    // Only the rectangle eraser outlines where it erases.
    if (tool != ES_ERASER_RECT)
        dropEraserRect();
    update();
}

void BoardWidget::setPenModel(int model)
{
    penModelIdx = model;
    update();
}

void BoardWidget::setPenColour(int idx)
{
    penColorIdx = clampTo(idx, 0, 5);
    update();
}

void BoardWidget::cycleBackground()
{
    const BkgType cur = page != nullptr ? page->getBkgType() : bkgType;
    setBkgType(cur == BT_GREEN ? BT_BLACK : cur == BT_BLACK ? BT_WHITE : BT_GREEN);
}

void BoardWidget::cycleGrid()
{
    setGridType(gridTypeIdx == 0 ? 1 : gridTypeIdx == 1 ? 2 : 0);
}

void BoardWidget::cycleGridSize()
{
    setGridSize(gridSizeIdx >= 2 || gridSizeIdx < 0 ? 0 : gridSizeIdx + 1);
}

void BoardWidget::toggleFullScreen()
{
    ::toggleFullScreen(window());
}
