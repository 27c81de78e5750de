#include "BoardState.h"

#include "BoardWidget.h"
#include "Utils.h"

#include <QApplication>
#include <QUndoStack>

// The board's module state: one board per process, every BoardWidget works on
// these variables. Declared in BoardState.h.

const uint32_t COLORS[6] = {0xFFFF0000, 0xFF0000FF, 0xFF00FF00, 0xFFFFFF00, 0xFFFF00FF, 0xFFFFFFFF};
const unsigned SIZES[3] = {2, 4, 8};
const uint32_t BKG_COLORS[3] = {0xFF274143, 0xFF21282F, 0xFFFFFFFF};
const int ERASER_WIDTH = 50;
QPen ERASER_PAINT;
QBrush TRANS_PAINT;
const int MAX_WIDTH = 5760;
const int MAX_HEIGHT = 3240;
const float VIEW_RATE = 1.0f;
const float RATE_MAX = 5.0f;
const float RATE_MIN = 0.2f;
QPixmap* fieldGridBmps[3] = {nullptr, nullptr, nullptr};
QPixmap* lineGridBmps[3] = {nullptr, nullptr, nullptr};
QPixmap* dots[6][61] = {};

std::vector<Page*> pages;
namespace {
// The pages live as long as the process; they go with it, before the list
// that holds them (defined just above, so destroyed just after).
struct PagesAtExit {
    ~PagesAtExit()
    {
        for (Page* p : pages)
            delete p;
        pages.clear();
    }
} pagesAtExit;
}  // namespace
int pageIdx = -1;
Page* page = nullptr;
BkgType bkgType = BT_GREEN;
QPixmap* bkgBmp = nullptr;
int gridTypeIdx = 1;
int gridSizeIdx = 2;
bool pageable = false;

int VIEW_WIDTH = 0;
int VIEW_HEIGHT = 0;
QPixmap* strokeBmp = nullptr;
QPainter* strokeCvs = nullptr;
QPixmap* winBmp = nullptr;
QPainter* winCvs = nullptr;
float xRate = 0, xLeft = 0, xTop = 0;
float winRate = 0, winLeft = 0, winTop = 0;

EraserStatus eraserStatus = ES_PEN;
int penModelIdx = 0;
int penColorIdx = 0;
int penSizeIdx = 2;
TouchModel touchModel = IDEL;
float zoomRate1 = 0;
float zoomDistance1 = 0;
QPointF zoomCenter1(0, 0);
QRectF* eraserRect = nullptr;
float priorWidth = 0;
int lastIdx = 0;
StrokePoint lastPoint;

QRectF drawSrcRect, drawDtsRect, drawFrgRect, drawViewRect, drawInterRect;

// Set when a background image was loaded before the view had a size: the
// image is fitted at the first resize instead.
bool fitPending = false;

Stroke* liveStroke = nullptr;
Page* livePage = nullptr;

long (*boardClock)() = []() { return static_cast<long>(Utils::clocktime(ms)); };

std::atomic<int> springBacks{0};

void resetBoardState()
{
    // The history of a board refers to its pages: it goes first.
    for (QWidget* w : QApplication::allWidgets())
        if (auto* b = qobject_cast<BoardWidget*>(w))
            b->undoStack()->clear();
    for (Page* p : pages)
        delete p;
    pages.clear();
    page = nullptr;
    pageIdx = -1;
    bkgType = BT_GREEN;
    delete bkgBmp;
    bkgBmp = nullptr;
    gridTypeIdx = 1;
    gridSizeIdx = 2;
    pageable = false;
    xRate = xLeft = xTop = 0;
    winRate = winLeft = winTop = 0;
    eraserStatus = ES_PEN;
    penModelIdx = 0;
    penColorIdx = 0;
    penSizeIdx = 2;
    touchModel = IDEL;
    zoomRate1 = 0;
    zoomDistance1 = 0;
    zoomCenter1 = QPointF(0, 0);
    delete eraserRect;
    eraserRect = nullptr;
    priorWidth = 0;
    lastIdx = 0;
    lastPoint = StrokePoint();
    fitPending = false;
    liveStroke = nullptr;
    livePage = nullptr;
}
