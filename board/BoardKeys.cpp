#include "BoardWidget.h"

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
// Keyboard shortcuts
// ---------------------------------------------------------------------------

// GUI thread. Letters and digits act without modifiers; Ctrl+Z, Ctrl+Y (and
// Ctrl+Shift+Z), Ctrl+N, Ctrl+S, Ctrl+P and Ctrl+O as named; Shift+G steps
// the grid size.
void BoardWidget::keyPressEvent(QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    const bool plain = mods == Qt::NoModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const int key = e->key();
    // A stroke of one tool never goes on with another: a switch ends it.
    auto switchTool = [this](EraserStatus tool) {
        if (tool != eraserStatus)
            endStroke();
        eraserStatus = tool;
    };

    if (plain && key >= Qt::Key_1 && key <= Qt::Key_6) {
        penColorIdx = key - Qt::Key_1;
    } else if (plain && key >= Qt::Key_7 && key <= Qt::Key_9) {
        setPaintThickness(key - Qt::Key_7);
    } else if (plain && key == Qt::Key_P) {
        switchTool(ES_PEN);
        dropEraserRect();
    } else if (plain && key == Qt::Key_E) {
        switchTool(ES_ERASER_RECT);
    } else if (plain && key == Qt::Key_T) {
        switchTool(ES_ERASER_TRAP);
        dropEraserRect();
    } else if (plain && key == Qt::Key_S) {
        penModelIdx = 0;
    } else if (plain && key == Qt::Key_H) {
        penModelIdx = 1;
    } else if (plain && key == Qt::Key_B) {
        const BkgType cur = page != nullptr ? page->getBkgType() : bkgType;
        setBkgType(cur == BT_GREEN ? BT_BLACK : cur == BT_BLACK ? BT_WHITE : BT_GREEN);
    } else if (plain && key == Qt::Key_F11) {
        toggleFullScreen(window());
    } else if (plain && key == Qt::Key_G) {
        setGridType(gridTypeIdx == 0 ? 1 : gridTypeIdx == 1 ? 2 : 0);
    } else if (mods == Qt::ShiftModifier && key == Qt::Key_G) {
        setGridSize(gridSizeIdx >= 2 || gridSizeIdx < 0 ? 0 : gridSizeIdx + 1);
    } else if (ctrl && key == Qt::Key_Z) {
        endGesture();
        undo();
    } else if ((ctrl && key == Qt::Key_Y) || (mods == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_Z)) {
        endGesture();
        redo();
    } else if (plain && key == Qt::Key_Delete) {
        endGesture();
        clear();
    } else if (ctrl && key == Qt::Key_N) {
        endGesture();
        newPage(QString(), pageable);
    } else if (plain && key == Qt::Key_PageUp) {
        endGesture();
        priorPage();
    } else if (plain && key == Qt::Key_PageDown) {
        endGesture();
        nextPage();
    } else if (ctrl && key == Qt::Key_S) {
        savePage();
    } else if (ctrl && key == Qt::Key_P) {
        savePdf();
    } else if (ctrl && key == Qt::Key_O) {
        openRecentBoard();
    } else {
        QWidget::keyPressEvent(e);
        return;
    }
    e->accept();
    update();
}
