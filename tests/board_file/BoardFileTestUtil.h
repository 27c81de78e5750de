#ifndef TAVLO_BOARDFILETESTUTIL_H
#define TAVLO_BOARDFILETESTUTIL_H

// Helpers of the board-file tests: a board with every kind of content drawn
// through the widget's pen input, and renders of its pages.

#include "../board/BoardTestUtil.h"
#include "BoardFile.h"

#include <QImage>
#include <QString>
#include <cmath>
#include <vector>

namespace bftest {

// A pen stroke through a sawtooth of sharp corners (the soft pen splits it
// there), view coordinates at the current transform.
inline void zigzag(BoardWidget* w, int penModel, float x0, float y0, long t0)
{
    eraserStatus = ES_PEN;
    penModelIdx = penModel;
    touchModel = PEN;
    w->penDown(x0, y0, t0);
    float y = y0;
    for (int i = 1; i <= 36; ++i) {
        y += (i - 1) / 6 % 2 == 0 ? 8.0f : -8.0f;
        w->penMove(x0 + 3.0f * i, y, t0 + 7 * i);
    }
    w->penUp(x0 + 3.0f * 36, y, t0 + 300);
    w->finishPenStroke();
    touchModel = IDEL;
}

inline void rectErase(BoardWidget* w, float x, float y, long t0)
{
    eraserStatus = ES_ERASER_RECT;
    touchModel = PEN;
    w->penDown(x, y, t0);
    for (int i = 1; i <= 5; ++i)
        w->penMove(x + 6 * i, y + 2 * i, t0 + 10 * i);
    w->penUp(x + 30, y + 10, t0 + 60);
    touchModel = IDEL;
    eraserStatus = ES_PEN;
}

inline void trapErase(BoardWidget* w, float x, float y, long t0)
{
    eraserStatus = ES_ERASER_TRAP;
    touchModel = PEN;
    w->penDown(x, y, t0);
    w->penMove(x + 40, y, t0 + 10);
    w->penMove(x + 40, y + 30, t0 + 20);
    w->penMove(x, y + 30, t0 + 30);
    w->penUp(x, y + 2, t0 + 40);
    touchModel = IDEL;
    eraserStatus = ES_PEN;
}

// Three pages: soft and hard ink with both erasers on green with a field
// grid; a white page with a line grid, another colour and size; and a page
// reused after a background change (black), zoomed and panned while drawn.
inline void drawRichBoard(BoardWidget* w, long t0 = 5000)
{
    zigzag(w, 0, 20, 20, t0);
    zigzag(w, 1, 20, 80, t0 + 1000);
    penColorIdx = 2;
    w->setPaintThickness(0);
    zigzag(w, 0, 30, 150, t0 + 2000);
    rectErase(w, 60, 20, t0 + 3000);
    trapErase(w, 100, 70, t0 + 4000);

    w->newPage(QString(), true);
    w->setBkgType(BT_WHITE);
    w->setGridType(2);
    w->setGridSize(0);
    penColorIdx = 1;
    w->setPaintThickness(1);
    zigzag(w, 0, 40, 40, t0 + 5000);
    zigzag(w, 1, 40, 120, t0 + 6000);

    w->newPage(QString(), true);
    w->setBkgType(BT_BLACK);
    w->setGridType(0);
    xRate = 1.5f;
    xLeft = 30;
    xTop = 10;
    w->drawWin();
    penColorIdx = 4;
    w->setPaintThickness(2);
    zigzag(w, 0, 10, 10, t0 + 7000);
    rectErase(w, 20, 12, t0 + 8000);
}

inline std::vector<QImage> renderAll(BoardWidget* w)
{
    std::vector<QImage> out;
    for (size_t i = 0; i < pages.size(); ++i) {
        QPixmap* pm = w->savePageToPixmap(static_cast<int>(i));
        out.push_back(pm != nullptr ? pm->toImage() : QImage());
        delete pm;
    }
    return out;
}

// Puts decoded contents in place of the board's pages and shows the page
// they name.
inline void install(BoardWidget* w, BoardFile::Contents& c)
{
    for (Page* p : pages)
        delete p;
    pages.clear();
    page = nullptr;
    pageIdx = -1;
    for (auto& p : c.pages)
        pages.push_back(p.release());
    bkgType = c.newPageType;
    if (c.pageIdx >= 0)
        w->loadPage(static_cast<unsigned>(c.pageIdx));
}

}  // namespace bftest

#endif
