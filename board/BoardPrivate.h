#ifndef TAVLO_BOARDPRIVATE_H
#define TAVLO_BOARDPRIVATE_H

// Helpers that the board's source files share; each is defined next to the
// concern it belongs to. Not for use outside the board.

#include "BoardState.h"

#include <QPainterPath>
#include <QPointF>
#include <algorithm>
#include <functional>
#include <vector>

class QPainter;
class QPixmap;
class Segment;

template <typename T>
T clampTo(T v, T lo, T hi)
{
    return std::max(lo, std::min(v, hi));
}

// The colour fill of a page (BoardPages.cpp).
BkgType colourType(const Page* pg);
// Fits the current background image into the view: view and window
// transforms (BoardPages.cpp).
void applyImageFit();
// Drops the eraser rectangle shown on screen (BoardGestures.cpp).
void dropEraserRect();

// The hard pen's curve through points (BoardRender.cpp).
QPainterPath hardPenPath(const std::vector<QPointF>& points);
// The soft pen's pieces of a segment, each with its width in page units, as
// drawPenSoft draws them; priorWidth is read and updated (BoardRender.cpp).
void softPenPieces(const Segment* segment, float strokeWidth, float& priorWidth, bool isLast,
                   const std::function<void(StrokePoint* from, StrokePoint* to, float width)>& piece);
// Lays grid tile bb over a width x height canvas at the transform (rate,
// left, top), anchored to page multiples of the tile size (BoardCompose.cpp).
void tileGrid(QPainter* canvas, const QPixmap* bb, float rate, float left, float top, int width, int height);
// The grid tile of a grid type and size (BoardCompose.cpp).
const QPixmap* gridTile(int type, int size);

// Keeps the soft pen's running values (priorWidth, lastIdx, lastPoint) as
// they are around a rendering that is not the stroke being drawn (export,
// thumbnails, live feedback).
class RenderStateGuard {
public:
    RenderStateGuard() : width_(priorWidth), idx_(lastIdx), point_(lastPoint) {}
    ~RenderStateGuard()
    {
        priorWidth = width_;
        lastIdx = idx_;
        lastPoint = point_;
    }
    RenderStateGuard(const RenderStateGuard&) = delete;
    RenderStateGuard& operator=(const RenderStateGuard&) = delete;

private:
    float width_;
    int idx_;
    StrokePoint point_;
};

#endif
