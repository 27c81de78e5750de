#include "Page.h"

#include <algorithm>
#include <cmath>

namespace {
const QPointF MIN_START(999999, 999999);
const QPointF MAX_START(0, 0);
}  // namespace

Page::Page(QString bkgFile, BkgType bkgType, int gridType, int gridSize)
    : bkgFile(std::move(bkgFile)),
      bkgType(bkgType),
      gridType(gridType),
      gridSize(gridSize),
      minPoint(MIN_START),
      maxPoint(MAX_START)
{
    if (!this->bkgFile.isEmpty())
        this->bkgType = BT_IMG;
}

Page::~Page()
{
    for (Stroke* s : strokes)
        delete s;
}

void Page::setBkg(QString file)
{
    bkgFile = std::move(file);
    bkgPage = -1;
    if (!bkgFile.isEmpty())
        bkgType = BT_IMG;
}

void Page::setBkgType(BkgType type)
{
    bkgType = type;
}

BkgType Page::getBkgType() const
{
    return bkgType;
}

Stroke* Page::getLastStork() const
{
    return strokes.empty() ? nullptr : strokes.back();
}

void Page::updateMaxPoint(QPointF p)
{
    double x = std::trunc(p.x());
    double y = std::trunc(p.y());
    minPoint.setX(std::min(minPoint.x(), x));
    minPoint.setY(std::min(minPoint.y(), y));
    maxPoint.setX(std::max(maxPoint.x(), x));
    maxPoint.setY(std::max(maxPoint.y(), y));
}

void Page::updateMaxPoint()
{
    minPoint = MIN_START;
    maxPoint = MAX_START;
    for (Stroke* s : strokes) {
        if (s->type != TT_P_HARD && s->type != TT_P_SOFT)
            continue;
        for (Segment* seg : s->segments)
            for (StrokePoint* sp : seg->points)
                updateMaxPoint(*sp->point);
    }
}
