#ifndef TAVLO_BOARDSTATE_H
#define TAVLO_BOARDSTATE_H

#include "Page.h"
#include "StrokePoint.h"

#include <QBrush>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QPointF>
#include <QRectF>
#include <atomic>
#include <cstdint>
#include <vector>

// The running gesture of the board.
enum TouchModel { IDEL = 0, PEN = 1, SCALE = 2, DRAG = 3, ERASER = 4 };

// The tool of single-pointer input.
enum EraserStatus { ES_PEN = 0, ES_ERASER_RECT = 1, ES_ERASER_TRAP = 2 };

// ---------------------------------------------------------------------------
// Board state. There is one board per process: every BoardWidget works on
// these module-level variables (defined in BoardState.cpp). All of it is used
// on the GUI thread.
// ---------------------------------------------------------------------------

// Constants and tables.
extern const uint32_t COLORS[6];      // pen palette, 0xAARRGGBB: red, blue, green, yellow, magenta, white
extern const unsigned SIZES[3];       // pen widths 2, 4, 8
extern const uint32_t BKG_COLORS[3];  // BT_GREEN, BT_BLACK, BT_WHITE fills
extern const int ERASER_WIDTH;        // half the side of the rectangle eraser's square (page units)
extern QPen ERASER_PAINT;             // outline of the eraser rectangle on screen
extern QBrush TRANS_PAINT;            // clears eraser areas to full transparency
extern const int MAX_WIDTH;           // largest exported page image
extern const int MAX_HEIGHT;
extern const float VIEW_RATE;         // extra scale of the grid tiles
extern const float RATE_MAX;          // zoom limits without a background image
extern const float RATE_MIN;
extern QPixmap* fieldGridBmps[3];     // grid tiles by size: small, medium, large
extern QPixmap* lineGridBmps[3];
extern QPixmap* dots[6][61];          // dot stamps: row = colour index, column = size index - 1

// Pages.
extern std::vector<Page*> pages;  // creation order, owned
extern int pageIdx;               // current page, -1 while there is none
extern Page* page;                // pages[pageIdx]
extern BkgType bkgType;           // background type given to new pages
extern QPixmap* bkgBmp;           // background image of the current page, or null
extern int gridTypeIdx;           // 0 none, 1 field grid, other positive line grid
extern int gridSizeIdx;           // 0 small, 1 medium, 2 large
extern bool pageable;

// Layers and view.
extern int VIEW_WIDTH;            // widget size in pixels
extern int VIEW_HEIGHT;
extern QPixmap* strokeBmp;        // finished strokes at the window transform, transparent elsewhere
extern QPainter* strokeCvs;       // its painter, opened only while drawing
extern QPixmap* winBmp;           // background and grid at the window transform
extern QPainter* winCvs;
extern float xRate, xLeft, xTop;        // view transform: pixels per page unit, page point at the top-left
extern float winRate, winLeft, winTop;  // the view transform at which the layers were last rendered

// Tools and gestures.
extern EraserStatus eraserStatus;
extern int penModelIdx;           // 0 soft pen, other hard pen
extern int penColorIdx;
extern int penSizeIdx;
extern TouchModel touchModel;
extern float zoomRate1;      // xRate when a two-finger zoom began
extern float zoomDistance1;  // distance of the two fingers then, view pixels
extern QPointF zoomCenter1;  // the page point held under the fingers' centre or the pointer
extern QRectF* eraserRect;        // view rectangle of the eraser in use, or null
extern float priorWidth;          // running values of the soft pen
extern int lastIdx;
extern StrokePoint lastPoint;

// Scratch rectangles of the on-screen composition.
extern QRectF drawSrcRect, drawDtsRect, drawFrgRect, drawViewRect, drawInterRect;

// Set when a background image was loaded before the view had a size: the
// image is fitted at the first resize instead.
extern bool fitPending;

// The stroke being drawn (pen or eraser) and its page, or null: on the page
// already, on the undo stack only when it ends (BoardWidget::commitStroke),
// so that a stroke a gesture takes back never touches the undo history.
extern Stroke* liveStroke;
extern Page* livePage;

// Milliseconds of input events (Utils::clocktime(ms) unless replaced).
extern long (*boardClock)();
// Spring-back tasks started and not yet through their last repaint.
extern std::atomic<int> springBacks;

// Everything above back to its value at program start; the pages are
// released, and the undo history of every board widget with them. The
// layers, the tables and the clock stay.
void resetBoardState();

#endif
