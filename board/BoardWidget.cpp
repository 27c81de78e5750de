#include "BoardWidget.h"

#include "Utils.h"

#include <QImage>
#include <QPaintEvent>
#include <QPainterPath>
#include <QResizeEvent>
#include <QSizeF>
#include <algorithm>
#include <cmath>
#include <stdexcept>

// ---------------------------------------------------------------------------
// Board state
// ---------------------------------------------------------------------------

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

// The board's pictures are compiled into the library; registering them here
// pulls them in wherever the widget is linked.
static void registerResources()
{
    Q_INIT_RESOURCE(board);
}

namespace {

// Set when a background image was loaded before the view had a size: the
// image is fitted at the first resize instead.
bool fitPending = false;

template <typename T>
T clampTo(T v, T lo, T hi)
{
    return std::max(lo, std::min(v, hi));
}

// The colour fill of a page: its own type, or, for an image page whose image
// is not available, the board's type for new pages (green if that is an
// image type too).
BkgType colourType(const Page* pg)
{
    if (pg == nullptr)
        return bkgType == BT_IMG ? BT_GREEN : bkgType;
    if (pg->bkgType != BT_IMG)
        return pg->bkgType;
    return bkgType == BT_IMG ? BT_GREEN : bkgType;
}

// The area the renderers cull and clamp against: the canvas itself (the
// layers and the widget have the view's size; an export bitmap has its own).
QSize canvasBounds(QPainter* canvas, const QWidget* widget)
{
    if (canvas != nullptr && canvas->isActive() && canvas->device() != nullptr)
        return QSize(canvas->device()->width(), canvas->device()->height());
    return QSize(widget->width(), widget->height());
}

bool inside(const QPointF& p, const QSize& bounds)
{
    return p.x() >= 0 && p.y() >= 0 && p.x() <= bounds.width() && p.y() <= bounds.height();
}

// One dot stamp of size index k centred on (x, y).
inline void stamp(QPainter* canvas, int colorIdx, int k, double x, double y)
{
    const QPixmap* dot = dots[colorIdx][clampTo(k, 1, 61) - 1];
    if (dot == nullptr || dot->isNull())
        return;
    int tw;
    if (k <= 3)
        tw = 3;
    else if (k <= 60)
        tw = (k % 2 == 0) ? k + 1 : k;
    else
        tw = k;
    const double half = tw / 2.0;
    if (tw == dot->width() && tw == dot->height())
        canvas->drawPixmap(QPointF(x - half, y - half), *dot);
    else
        canvas->drawPixmap(QRectF(x - half, y - half, tw, tw), *dot, QRectF(dot->rect()));
}

// Rate of the view at which a w x h image fills the view, and the centred
// top-left page point.
void fitImage(int bw, int bh, float& rate, float& left, float& top)
{
    QSizeF fitted(bw, bh);
    Utils::scaleInSize(fitted, QSizeF(VIEW_WIDTH, VIEW_HEIGHT));
    rate = static_cast<float>(fitted.width() / bw);
    left = (bw - VIEW_WIDTH / rate) / 2;
    top = (bh - VIEW_HEIGHT / rate) / 2;
}

void applyImageFit()
{
    float rate, left, top;
    fitImage(bkgBmp->width(), bkgBmp->height(), rate, left, top);
    xRate = winRate = rate;
    xLeft = winLeft = left;
    xTop = winTop = top;
}

// Lays grid tile bb over a bw x bh canvas, anchored to page multiples of the
// tile size. Tiles smaller than a pixel are not drawn.
void tileGrid(QPainter* canvas, const QPixmap* bb, float rate, float left, float top, int width, int height)
{
    if (bb == nullptr || bb->isNull())
        return;
    const int BW = bb->width(), BH = bb->height();
    const double TW = rate * BW * VIEW_RATE;
    const double TH = rate * BH * VIEW_RATE;
    if (!(TW >= 1) || !(TH >= 1))
        return;
    double TL = std::fmod(left, static_cast<float>(BW));
    if (TL < 0)
        TL += BW;
    double TT = std::fmod(top, static_cast<float>(BH));
    if (TT < 0)
        TT += BH;
    const QRectF src(bb->rect());
    for (double ST = std::trunc(-TT * rate); ST < height; ST = std::trunc(ST + TH))
        for (double SL = std::trunc(-TL * rate); SL < width; SL = std::trunc(SL + TW))
            canvas->drawPixmap(QRectF(SL, ST, TW, TH), *bb, src);
}

const QPixmap* gridTile(int type, int size)
{
    const int idx = clampTo(size, 0, 2);
    return type == 1 ? fieldGridBmps[idx] : lineGridBmps[idx];
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction, resizing, pen input
// ---------------------------------------------------------------------------

BoardWidget::BoardWidget(QWidget* parent) : QWidget(parent)
{
    registerResources();
    loadDot();
    static const char* const fieldNames[3] = {":/assert/网格线_田字_小.png", ":/assert/网格线_田字_中.png",
                                              ":/assert/网格线_田字_大.png"};
    static const char* const lineNames[3] = {":/assert/网格线_线条_小.png", ":/assert/网格线_线条_中.png",
                                             ":/assert/网格线_线条_大.png"};
    for (int i = 0; i < 3; ++i) {
        delete fieldGridBmps[i];
        fieldGridBmps[i] = new QPixmap(QString::fromUtf8(fieldNames[i]));
        delete lineGridBmps[i];
        lineGridBmps[i] = new QPixmap(QString::fromUtf8(lineNames[i]));
    }
    ERASER_PAINT = QPen(QColor::fromRgba(0xFF777777), 2);
    TRANS_PAINT = QBrush(QColor(0, 0, 0, 0), Qt::SolidPattern);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BoardWidget::resizeEvent(QResizeEvent* event)
{
    VIEW_WIDTH = width();
    VIEW_HEIGHT = height();
    if (strokeBmp != nullptr) {
        delete strokeCvs;
        delete strokeBmp;
        delete winCvs;
        delete winBmp;
    }
    strokeBmp = new QPixmap(VIEW_WIDTH, VIEW_HEIGHT);
    strokeCvs = new QPainter();
    winBmp = new QPixmap(VIEW_WIDTH, VIEW_HEIGHT);
    winCvs = new QPainter();
    if (fitPending && bkgBmp != nullptr && VIEW_WIDTH > 0 && VIEW_HEIGHT > 0) {
        fitPending = false;
        applyImageFit();
    }
    if (page != nullptr)
        drawWin();
    update();
}

void BoardWidget::setPaintThickness(int idx)
{
    penSizeIdx = clampTo(idx, 0, 2);
}

void BoardWidget::penDown(float x, float y, long time)
{
    delete eraserRect;
    eraserRect = nullptr;
    if (page == nullptr)
        return;
    const float px = x / xRate + xLeft;
    const float py = y / xRate + xTop;
    switch (eraserStatus) {
    case ES_ERASER_RECT: {
        if (page->strokes.empty())
            return;
        const float side = ERASER_WIDTH * xRate;
        eraserRect = new QRectF(QPointF(std::max(x - side, 0.0f), std::max(y - side, 0.0f)),
                                QPointF(std::min(x + side, static_cast<float>(VIEW_WIDTH)),
                                        std::min(y + side, static_cast<float>(VIEW_HEIGHT))));
        Stroke* st = new Stroke(time, QRectF(QPointF(px - ERASER_WIDTH, py - ERASER_WIDTH),
                                             QPointF(px + ERASER_WIDTH, py + ERASER_WIDTH)));
        page->strokes.push_back(st);
        // Clear what the stored rectangle covers, so the layer already shows
        // what a re-render will.
        if (strokeBmp != nullptr && !strokeBmp->isNull() && strokeCvs->begin(strokeBmp)) {
            drawRectEraser(strokeCvs, st->segments.back()->getLastPoint(), xLeft, xTop, xRate);
            strokeCvs->end();
        }
        break;
    }
    case ES_ERASER_TRAP:
        if (page->strokes.empty())
            return;
        page->strokes.push_back(new Stroke(time, QPointF(px, py)));
        break;
    case ES_PEN: {
        const StrokeType type = penModelIdx == 0 ? TT_P_SOFT : TT_P_HARD;
        const int width = static_cast<int>(SIZES[clampTo(penSizeIdx, 0, 2)]);
        page->strokes.push_back(new Stroke(type, width, penColorIdx, time, QPointF(px, py)));
        page->updateMaxPoint(QPointF(px, py));
        // A new stroke starts its width afresh, as a full re-render does.
        priorWidth = 0;
        break;
    }
    }
}

void BoardWidget::penMove(float X, float Y, long time)
{
    if (page == nullptr || page->strokes.empty())
        return;
    Stroke* last = page->strokes.back();
    const float px = X / xRate + xLeft;
    const float py = Y / xRate + xTop;
    if (eraserStatus == ES_ERASER_RECT) {
        const float side = ERASER_WIDTH * xRate;
        delete eraserRect;
        eraserRect = new QRectF(QPointF(std::max(X - side, 0.0f), std::max(Y - side, 0.0f)),
                                QPointF(std::min(X + side, static_cast<float>(VIEW_WIDTH)),
                                        std::min(Y + side, static_cast<float>(VIEW_HEIGHT))));
        const QRectF rect(QPointF(px - ERASER_WIDTH, py - ERASER_WIDTH), QPointF(px + ERASER_WIDTH, py + ERASER_WIDTH));
        last->addRect(time, rect);
        if (strokeBmp != nullptr && !strokeBmp->isNull() && strokeCvs->begin(strokeBmp)) {
            StrokePoint sample(time, rect.left(), rect.top(), rect.right(), rect.bottom());
            drawRectEraser(strokeCvs, &sample, xLeft, xTop, xRate);
            strokeCvs->end();
        }
        return;
    }
    if (touchModel != PEN)
        return;
    const bool split = last->addPoint(time, QPointF(px, py));
    if (last->type == TT_P_SOFT || last->type == TT_P_HARD)
        page->updateMaxPoint(QPointF(px, py));
    if (split && strokeBmp != nullptr && !strokeBmp->isNull() && strokeCvs->begin(strokeBmp)) {
        drawPenSoft(strokeCvs, last->getSecondLast(), last->width, last->colorIdx, priorWidth, false, xLeft, xTop,
                    xRate);
        strokeCvs->end();
    }
}

void BoardWidget::penUp(float X, float Y, long time)
{
    if (eraserStatus == ES_ERASER_RECT || page == nullptr || page->strokes.empty())
        return;
    page->strokes.back()->addPoint(time, QPointF(X / xRate + xLeft, Y / xRate + xTop));
    if (eraserStatus == ES_ERASER_TRAP) {
        drawWin();
        update();
    }
}

void BoardWidget::finishPenStroke()
{
    Stroke* st = page != nullptr ? page->getLastStork() : nullptr;
    if (st == nullptr || (st->type != TT_P_SOFT && st->type != TT_P_HARD))
        return;
    if (strokeBmp == nullptr || strokeBmp->isNull() || !strokeCvs->begin(strokeBmp))
        return;
    drawStroke(strokeCvs, st, xLeft, xTop, xRate, false);
    strokeCvs->end();
}

QPointF BoardWidget::toPoint(QPointF src, float ox, float oy, float scale)
{
    return QPointF((src.x() - ox) * scale, (src.y() - oy) * scale);
}

QPointF BoardWidget::toPointLimit(QPointF src, float ox, float oy, float scale, int width, int height)
{
    QPointF p = toPoint(src, ox, oy, scale);
    p.setX(std::max(std::min(p.x(), static_cast<double>(width)), 0.0));
    p.setY(std::max(std::min(p.y(), static_cast<double>(height)), 0.0));
    return p;
}

void BoardWidget::updateLimit(QRect& limitRect, QPointF point)
{
    limitRect.setLeft(std::min(limitRect.left(), static_cast<int>(std::floor(point.x()))));
    limitRect.setTop(std::min(limitRect.top(), static_cast<int>(std::floor(point.y()))));
    limitRect.setRight(std::max(limitRect.right(), static_cast<int>(std::ceil(point.x()))));
    limitRect.setBottom(std::max(limitRect.bottom(), static_cast<int>(std::ceil(point.y()))));
}

// ---------------------------------------------------------------------------
// Stroke rendering
// ---------------------------------------------------------------------------

int BoardWidget::signum(int val)
{
    return (0 < val) - (val < 0);
}

void BoardWidget::drawStroke(QPainter* canvas, Stroke* stroke, float ox, float oy, float scale, bool track)
{
    priorWidth = 0;
    const size_t count = stroke->segments.size();
    for (size_t j = 0; j < count; ++j) {
        Segment* segment = stroke->segments[j];
        switch (stroke->type) {
        case TT_E_RECT:
            for (StrokePoint* sp : segment->points)
                drawRectEraser(canvas, sp, ox, oy, scale);
            break;
        case TT_E_TRAP:
            drawTrapEraser(canvas, segment, track, ox, oy, scale);
            break;
        case TT_P_HARD:
            drawPenHard(canvas, segment, static_cast<float>(stroke->width), stroke->colorIdx, ox, oy, scale);
            break;
        case TT_P_SOFT:
            drawPenSoft(canvas, segment, static_cast<float>(stroke->width), stroke->colorIdx, priorWidth,
                        j + 1 == count, ox, oy, scale);
            break;
        case TT_UNKNOW:
            break;
        }
    }
}

void BoardWidget::drawPenHard(QPainter* canvas, Segment* segment, float strokeWidth, int colorIdx, float ox, float oy,
                              float scale)
{
    canvas->setRenderHint(QPainter::Antialiasing, true);
    const std::vector<StrokePoint*>& pts = segment->points;
    const size_t n = pts.size();
    if (n == 0)
        return;
    const QSize bounds = canvasBounds(canvas, this);
    std::vector<QPointF> vp;
    vp.reserve(n);
    bool visible = false;
    for (StrokePoint* sp : pts) {
        vp.push_back(toPoint(*sp->point, ox, oy, scale));
        visible = visible || inside(vp.back(), bounds);
    }
    if (!visible)
        return;
    QPen pen(QColor::fromRgba(COLORS[clampTo(colorIdx, 0, 5)]));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setWidth(static_cast<int>(strokeWidth));
    canvas->setPen(pen);
    canvas->setBrush(Qt::NoBrush);
    if (n == 1) {
        const float halfW = strokeWidth * scale / 2;
        canvas->drawEllipse(QRect(static_cast<int>(vp[0].x() - halfW), static_cast<int>(vp[0].y() - halfW),
                                  static_cast<int>(2 * halfW), static_cast<int>(2 * halfW)));
        return;
    }
    // A chain of cubics through every third point, closed by a line or a
    // quadratic for the one or two points left over.
    QPainterPath path(vp[0]);
    const int mi = static_cast<int>(n) - 3;
    int i = 1;
    for (; i <= mi; i += 3)
        path.cubicTo(vp[i], vp[i + 1], vp[i + 2]);
    if (i == mi + 2)
        path.lineTo(vp[n - 1]);
    else if (i == mi + 1)
        path.quadTo(vp[n - 2], vp[n - 1]);
    canvas->drawPath(path);
}

void BoardWidget::drawPenSoft(QPainter* canvas, Segment* segment, float strokeWidth, int colorIdx, float& priorWidth,
                              bool isLast, float ox, float oy, float scale)
{
    const std::vector<StrokePoint*>& pts = segment->points;
    const size_t n = pts.size();
    if (n < 2)
        return;
    StrokePoint* firstSp = pts[0];
    StrokePoint* middSp = pts[n / 2];
    StrokePoint* lastSp = pts[n - 1];
    const double Angle = Stroke::getAngle(firstSp->point, lastSp->point);
    const float segTime = static_cast<float>(lastSp->time - firstSp->time);
    float segLen = 0;
    for (size_t i = 1; i < n; ++i)
        segLen += pts[i - 1]->distance(pts[i]->point);
    const float segSpeed = segLen / segTime;

    // A tapered end on final strokes that head down-right or back to the
    // left and bow below their chord.
    bool isFalling = false;
    if (isLast && n > 1 && ((Angle > 120 && Angle < 330) || (Angle > 20 && Angle < 60))) {
        const float y = (lastSp->GetY() - firstSp->GetY()) / (lastSp->GetX() - firstSp->GetX()) *
                            (middSp->GetX() - firstSp->GetX()) +
                        firstSp->GetY();
        isFalling = y < middSp->GetY();
    }

    StrokePoint* priorPoint = firstSp;
    for (size_t i = 1; i < n; ++i) {
        StrokePoint* currPoint = pts[i];
        const float currDis = priorPoint->distance(currPoint->point);
        const float pointSpeed = currDis / static_cast<float>(currPoint->time - priorPoint->time);
        float currWidth = static_cast<float>(strokeWidth * std::pow(segSpeed / pointSpeed, 0.3));
        if (!currPoint->equals(priorPoint) && i != n - 1)
            currWidth = static_cast<float>(currWidth * Stroke::getRadian(priorPoint->point, currPoint->point));
        else
            currWidth = priorWidth;
        if (priorWidth == 0) {
            priorWidth = segLen < 10 ? strokeWidth : currWidth;
            currWidth = std::fmin(std::fmax(priorWidth, 1.0f), std::ceil(strokeWidth * 1.5f));
        } else {
            if (currWidth > priorWidth)
                currWidth = std::fmin(currWidth, priorWidth + currDis / 2);
            if (currWidth < priorWidth)
                currWidth = std::fmax(currWidth, priorWidth - currDis / 2);
        }
        if (isFalling) {
            const float LastDis = priorPoint->distance(lastSp->point);
            if (segLen < 5 * strokeWidth)
                currWidth = std::fmax(1.0f, currWidth * LastDis / segLen);
            else if (LastDis < segLen / 3)
                currWidth = std::fmax(1.0f, currWidth * LastDis / (segLen / 3));
        }
        currWidth = std::fmax(1.0f, std::fmin(2 * strokeWidth, currWidth));
        drawLine(canvas, colorIdx, priorPoint, currPoint, currWidth, ox, oy, scale);
        priorWidth = currWidth;
        priorPoint = currPoint;
    }
}

void BoardWidget::drawLine(QPainter* canvas, int colorIdx, StrokePoint* start, StrokePoint* end, float size, float ox,
                           float oy, float scale)
{
    const QPointF S = toPoint(*start->point, ox, oy, scale);
    const QPointF E = toPoint(*end->point, ox, oy, scale);
    const QSize bounds = canvasBounds(canvas, this);
    if (!inside(S, bounds) || !inside(E, bounds))
        return;
    colorIdx = clampTo(colorIdx, 0, 5);
    size = std::fmax(1.0f, std::fmin(size, 20.0f));
    int calIdx = static_cast<int>(std::round(size * scale));
    const bool continues = start->equals(&lastPoint);
    if (!continues)
        lastIdx = calIdx;
    const double DisX = std::fabs(E.x() - S.x());
    const double DisY = std::fabs(E.y() - S.y());
    if (DisX < 1 && DisY < 1) {
        // A single dot: on a continuing stroke the size moves by one step.
        if (continues && calIdx != lastIdx)
            calIdx = lastIdx + signum(calIdx - lastIdx);
        stamp(canvas, colorIdx, calIdx, S.x(), S.y());
    } else if (DisX > DisY) {
        const double StepX = E.x() > S.x() ? 1 : -1;
        const double StepY = (E.y() > S.y() ? 1 : -1) * DisY / DisX;
        double X = S.x(), Y = S.y();
        for (int i = 0; i <= DisX; ++i) {
            const int k = static_cast<int>(std::trunc(lastIdx + (i + 1) * (calIdx - lastIdx) / DisX));
            stamp(canvas, colorIdx, k, X, Y);
            X += StepX;
            Y = std::trunc(S.y() + (i + 1) * StepY);
        }
    } else {
        const double StepY = E.y() > S.y() ? 1 : -1;
        const double StepX = (E.x() > S.x() ? 1 : -1) * DisX / DisY;
        double X = S.x(), Y = S.y();
        for (int i = 0; i <= DisY; ++i) {
            const int k = static_cast<int>(std::trunc(lastIdx + (i + 1) * (calIdx - lastIdx) / DisY));
            stamp(canvas, colorIdx, k, X, Y);
            Y += StepY;
            X = std::trunc(S.x() + (i + 1) * StepX);
        }
    }
    lastPoint = *end;
    lastIdx = calIdx;
}

void BoardWidget::drawRectEraser(QPainter* canvas, StrokePoint* sp, float ox, float oy, float scale)
{
    if (sp == nullptr || sp->point2 == nullptr)
        return;
    const QSize bounds = canvasBounds(canvas, this);
    const QPointF a = toPointLimit(*sp->point, ox, oy, scale, bounds.width(), bounds.height());
    const QPointF b = toPointLimit(*sp->point2, ox, oy, scale, bounds.width(), bounds.height());
    const QRectF rect(a, b);
    if (rect.width() > 0 && rect.height() > 0) {
        canvas->save();
        canvas->setCompositionMode(QPainter::CompositionMode_Source);
        canvas->fillRect(rect, TRANS_PAINT);
        canvas->restore();
    }
}

void BoardWidget::drawTrapEraser(QPainter* canvas, Segment* segment, bool track, float ox, float oy, float scale)
{
    const std::vector<StrokePoint*>& pts = segment->points;
    if (pts.empty())
        return;
    const QSize bounds = canvasBounds(canvas, this);
    const QPointF firstPoint = toPointLimit(*pts[0]->point, ox, oy, scale, bounds.width(), bounds.height());
    QPainterPath path(firstPoint);
    QPointF prev = firstPoint;
    int pointNum = 1;
    for (size_t i = 1; i < pts.size(); ++i) {
        const QPointF modPoint = toPointLimit(*pts[i]->point, ox, oy, scale, bounds.width(), bounds.height());
        if (modPoint == prev)
            continue;
        ++pointNum;
        prev = modPoint;
        path.lineTo(modPoint);
    }
    if (pointNum <= 2)
        return;
    canvas->save();
    if (track) {
        // The outline while the eraser is drawn, in the eraser's grey.
        canvas->setPen(ERASER_PAINT);
        canvas->setBrush(Qt::NoBrush);
        canvas->drawPath(path);
    } else {
        path.lineTo(firstPoint);
        canvas->setCompositionMode(QPainter::CompositionMode_Source);
        canvas->fillPath(path, TRANS_PAINT);
    }
    canvas->restore();
}

// ---------------------------------------------------------------------------
// Composition and export
// ---------------------------------------------------------------------------

// GUI thread (after a resize, a page operation, a pan or zoom, a trapezoid
// eraser stroke).
void BoardWidget::drawWin()
{
    winLeft = xLeft;
    winTop = xTop;
    winRate = xRate;
    if (strokeBmp == nullptr || winBmp == nullptr || strokeBmp->isNull() || winBmp->isNull())
        return;

    strokeBmp->fill(Qt::transparent);
    if (page != nullptr && strokeCvs->begin(strokeBmp)) {
        for (Stroke* st : page->strokes)
            drawStroke(strokeCvs, st, xLeft, xTop, xRate, false);
        strokeCvs->end();
    }

    if (bkgBmp != nullptr) {
        winBmp->fill(QColor::fromRgba(0xFF000000));
        if (winCvs->begin(winBmp)) {
            winCvs->setRenderHint(QPainter::SmoothPixmapTransform, true);
            const int W = bkgBmp->width(), H = bkgBmp->height();
            winCvs->drawPixmap(QRectF(QPointF(-xLeft * xRate, -xTop * xRate),
                                      QPointF((W - xLeft) * xRate, (H - xTop) * xRate)),
                               *bkgBmp, QRectF(0, 0, W, H));
            winCvs->end();
        }
        return;
    }
    winBmp->fill(QColor::fromRgba(BKG_COLORS[colourType(page)]));
    if (gridTypeIdx > 0 && winCvs->begin(winBmp)) {
        tileGrid(winCvs, gridTile(gridTypeIdx, gridSizeIdx), xRate, xLeft, xTop, VIEW_WIDTH, VIEW_HEIGHT);
        winCvs->end();
    }
}

void BoardWidget::paintEvent(QPaintEvent* event)
{
    QPainter canvas(this);
    paint(&canvas);
    canvas.end();
}

void BoardWidget::paint(QPainter* canvas)
{
    if (strokeBmp == nullptr || winBmp == nullptr) {
        canvas->fillRect(rect(), QColor::fromRgba(BKG_COLORS[colourType(page)]));
        return;
    }
    if (Utils::isEquals(winRate, xRate) && Utils::isEquals(winLeft, xLeft) && Utils::isEquals(winTop, xTop)) {
        canvas->drawPixmap(0, 0, *winBmp);
        canvas->drawPixmap(0, 0, *strokeBmp);
    } else {
        // A drag or zoom in progress: the cached layers moved and scaled into
        // place, plain background where they do not reach.
        const uint32_t fill = (page != nullptr && page->bkgType == BT_IMG && bkgBmp != nullptr)
                                  ? BKG_COLORS[1]
                                  : BKG_COLORS[colourType(page)];
        canvas->fillRect(QRectF(0, 0, VIEW_WIDTH, VIEW_HEIGHT), QColor::fromRgba(fill));
        if (winRate > 0 && xRate > 0) {
            drawFrgRect = QRectF(QPointF(winLeft, winTop),
                                 QPointF(winLeft + VIEW_WIDTH / winRate, winTop + VIEW_HEIGHT / winRate));
            drawViewRect =
                QRectF(QPointF(xLeft, xTop), QPointF(xLeft + VIEW_WIDTH / xRate, xTop + VIEW_HEIGHT / xRate));
            drawInterRect = drawFrgRect.intersected(drawViewRect);
            if (drawInterRect.width() > 0 && drawInterRect.height() > 0) {
                drawDtsRect = drawInterRect.translated(-xLeft, -xTop);
                Utils::scaleRect(drawDtsRect, xRate);
                drawInterRect.translate(-winLeft, -winTop);
                Utils::scaleRect(drawInterRect, winRate);
                drawSrcRect = drawInterRect;
                canvas->drawPixmap(drawDtsRect, *winBmp, drawInterRect);
                canvas->drawPixmap(drawDtsRect, *strokeBmp, drawInterRect);
            }
        }
    }

    // Live feedback of the running gesture.
    if (touchModel == PEN && eraserStatus == ES_PEN) {
        Stroke* st = page != nullptr ? page->getLastStork() : nullptr;
        if (st != nullptr && !st->segments.empty()) {
            Segment* segment = st->segments.back();
            if (st->type == TT_P_SOFT) {
                // The feedback is redrawn at every repaint; it works on copies
                // of the soft pen's running values so that repaints never
                // change what later reaches the stroke layer.
                float width = priorWidth;
                const int savedIdx = lastIdx;
                const StrokePoint savedPoint = lastPoint;
                drawPenSoft(canvas, segment, st->width, st->colorIdx, width, false, xLeft, xTop, xRate);
                lastIdx = savedIdx;
                lastPoint = savedPoint;
            } else if (st->type == TT_P_HARD) {
                drawPenHard(canvas, segment, st->width, st->colorIdx, xLeft, xTop, xRate);
            }
        }
    } else if (eraserStatus == ES_ERASER_RECT) {
        if (eraserRect != nullptr) {
            canvas->save();
            canvas->setPen(ERASER_PAINT);
            canvas->setBrush(Qt::NoBrush);
            canvas->drawRect(*eraserRect);
            canvas->restore();
        }
    } else if (eraserStatus == ES_ERASER_TRAP) {
        Stroke* st = page != nullptr ? page->getLastStork() : nullptr;
        if (touchModel == PEN && st != nullptr)
            drawStroke(canvas, st, xLeft, xTop, xRate, true);
    }
}

QPixmap* BoardWidget::savePageToPixmap(int idx)
{
    if (idx < 0 || static_cast<size_t>(idx) >= pages.size())
        return nullptr;
    Page* pg = pages[idx];
    const float ox = 0, oy = 0;
    float scale = 1;
    QPixmap* out = nullptr;
    int bw = 0, bh = 0;

    if (!pg->bkgFile.isEmpty()) {
        QImage img(pg->bkgFile);
        if (!img.isNull()) {
            bw = img.width();
            bh = img.height();
            out = new QPixmap(bw, bh);
            out->fill(QColor::fromRgba(0xFF000000));
            QPainter p(out);
            p.drawImage(0, 0, img);
        }
    }
    if (out == nullptr) {
        // Sized from the ink box: at least the view, at most MAX_WIDTH x
        // MAX_HEIGHT.
        const float pw = static_cast<float>(pg->maxPoint.x() - pg->minPoint.x() + 40);
        const float ph = static_cast<float>(pg->maxPoint.y() - pg->minPoint.y() + 40);
        bw = static_cast<int>(std::ceil(std::max(std::min(static_cast<float>(MAX_WIDTH), pw),
                                                 static_cast<float>(VIEW_WIDTH))));
        bh = static_cast<int>(std::ceil(std::max(std::min(static_cast<float>(MAX_HEIGHT), ph),
                                                 static_cast<float>(VIEW_HEIGHT))));
        if (bw > MAX_WIDTH || bh > MAX_HEIGHT) {
            // Only a view larger than the limit gets here: shrink the whole
            // exported area (the view at least) into the limit.
            const float ew = std::max(pw, static_cast<float>(VIEW_WIDTH));
            const float eh = std::max(ph, static_cast<float>(VIEW_HEIGHT));
            scale = std::min(MAX_WIDTH / ew, MAX_HEIGHT / eh);
            bw = static_cast<int>(std::ceil(ew * scale));
            bh = static_cast<int>(std::ceil(eh * scale));
        }
        bw = std::max(bw, 1);
        bh = std::max(bh, 1);
        out = new QPixmap(bw, bh);
        const BkgType type = colourType(pg);
        out->fill(QColor::fromRgba(type == BT_BLACK ? 0xFF21282F : type == BT_WHITE ? 0xFFFFFFFF : 0xFF274143));
        if (pg->gridType > 0) {
            const QPixmap* bb = gridTile(pg->gridType, pg->gridSize);
            if (bb != nullptr && !bb->isNull()) {
                const int BW = bb->width(), BH = bb->height();
                const double TW = BW * scale, TH = BH * scale;
                if (TW >= 1 && TH >= 1) {
                    QPainter p(out);
                    for (double ST = std::trunc(-BH * scale); ST < bh; ST = std::trunc(ST + TH))
                        for (double SL = std::trunc(-BW * scale); SL < bw; SL = std::trunc(SL + TW))
                            p.drawPixmap(QRect(static_cast<int>(SL), static_cast<int>(ST), static_cast<int>(TW),
                                               static_cast<int>(TH)),
                                         *bb);
                }
            }
        }
    }

    QPixmap ink(bw, bh);
    ink.fill(Qt::transparent);
    {
        QPainter p(&ink);
        for (Stroke* st : pg->strokes)
            drawStroke(&p, st, ox, oy, scale, false);
    }
    QPainter p(out);
    p.drawPixmap(0, 0, ink);
    return out;
}

// ---------------------------------------------------------------------------
// Pages and image tables
// ---------------------------------------------------------------------------

void BoardWidget::newPage(QString ABkgFile, bool APageable)
{
    pageable = APageable;
    if (pageIdx >= 0 && !pages.empty() && pages.back()->strokes.empty()) {
        Page* last = pages.back();
        last->setBkg(ABkgFile);
        // An empty page reused without an image becomes a colour page again.
        if (ABkgFile.isEmpty() && last->bkgType == BT_IMG && bkgType != BT_IMG)
            last->setBkgType(bkgType);
    } else {
        pages.push_back(new Page(ABkgFile, bkgType, gridTypeIdx, gridSizeIdx));
    }
    loadPage(static_cast<unsigned int>(pages.size() - 1));
}

void BoardWidget::loadPage(unsigned int Idx)
{
    if (Idx >= pages.size())
        throw std::runtime_error("指定的批注或黑板不存在");
    page = pages[Idx];
    delete bkgBmp;
    bkgBmp = nullptr;
    fitPending = false;
    if (page->bkgType == BT_IMG && !page->bkgFile.isEmpty()) {
        QPixmap* img = new QPixmap(page->bkgFile);
        if (img->isNull())
            delete img;  // missing or unreadable: shown as a colour page
        else
            bkgBmp = img;
    }
    const BkgType shown = bkgBmp != nullptr ? BT_IMG : colourType(page);
    penColorIdx = (shown == BT_IMG || shown == BT_WHITE) ? 0 : 5;
    gridTypeIdx = page->gridType;
    gridSizeIdx = page->gridSize;
    pageIdx = static_cast<int>(Idx);
    xRate = winRate = 1;
    xLeft = winLeft = 0;
    xTop = winTop = 0;
    if (bkgBmp != nullptr) {
        if (VIEW_WIDTH > 0 && VIEW_HEIGHT > 0)
            applyImageFit();
        else
            fitPending = true;
    }
    if (strokeBmp != nullptr) {
        drawWin();
        update();
    }
}

void BoardWidget::loadDot()
{
    for (int i = 0; i < 61; ++i) {
        const int k = i + 1;
        const int side = k == 1 ? 3 : 2 * (k / 2) + 1;
        delete dots[5][i];
        dots[5][i] = new QPixmap(QString::asprintf(":assert/dot/%d_%dx%d.png", k, side, side));
        const QImage src = dots[5][i]->toImage().convertToFormat(QImage::Format_ARGB32);
        for (int c = 0; c < 5; ++c) {
            QImage tinted = src.copy();
            for (int y = 0; y < tinted.height(); ++y) {
                QRgb* line = reinterpret_cast<QRgb*>(tinted.scanLine(y));
                for (int x = 0; x < tinted.width(); ++x)
                    line[x] &= COLORS[c];
            }
            delete dots[c][i];
            dots[c][i] = new QPixmap(QPixmap::fromImage(tinted));
        }
    }
}

// ===========================================================================
// Gestures, elastic view, page operations and shortcuts
// ===========================================================================

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTouchEvent>
#include <atomic>
#include <cstdio>
#include <functional>

long (*boardClock)() = []() { return static_cast<long>(Utils::clocktime(ms)); };

namespace {
std::atomic<int> springBacks{0};
}

int runningSpringBacks()
{
    return springBacks.load();
}

namespace {

// Page extent of a page without a background image.
const float MIN_LEFT = -15360;
const float MIN_TOP = -8640;
const float EXTENT_RIGHT = 19200;
const float EXTENT_BOTTOM = 10800;
// A second finger this soon after a stroke began turns it into a gesture.
const long GESTURE_GRACE_MS = 100;
const int RESET_PASSES = 5;
const unsigned long RESET_PAUSE_MS = 67;

bool viewMoved()
{
    return !Utils::isEquals(winRate, xRate) || !Utils::isEquals(winLeft, xLeft) || !Utils::isEquals(winTop, xTop);
}

// e^0.8, computed in double and stored as float.
float damp(float e)
{
    return static_cast<float>(std::pow(static_cast<double>(e), 0.8));
}

// Zoom limits: the board's own without an image; with one, from the rate at
// which the whole image fits up to its pixel size (RATE_MAX at least).
void rateLimits(float& minRate, float& maxRate)
{
    if (bkgBmp == nullptr) {
        minRate = RATE_MIN;
        maxRate = RATE_MAX;
        return;
    }
    const float bw = static_cast<float>(bkgBmp->width());
    const float bh = static_cast<float>(bkgBmp->height());
    const float vw = static_cast<float>(VIEW_WIDTH);
    const float vh = static_cast<float>(VIEW_HEIGHT);
    minRate = std::min(vw / bw, vh / bh);
    maxRate = std::max(std::max(bw / vw, bh / vh), RATE_MAX);
}

// Bounding box of the touch points in view coordinates.
QRectF touchBox(const QList<QTouchEvent::TouchPoint>& pts)
{
    QPointF lt(VIEW_WIDTH, VIEW_HEIGHT), rb(0, 0);
    for (const QTouchEvent::TouchPoint& p : pts) {
        const QPointF v = p.pos();
        lt.setX(std::min(lt.x(), v.x()));
        lt.setY(std::min(lt.y(), v.y()));
        rb.setX(std::max(rb.x(), v.x()));
        rb.setY(std::max(rb.y(), v.y()));
    }
    return QRectF(lt, rb);
}

QRectF toPageRect(const QRectF& view)
{
    return QRectF(QPointF(xLeft + view.left() / xRate, xTop + view.top() / xRate),
                  QPointF(xLeft + view.right() / xRate, xTop + view.bottom() / xRate));
}

void setEraserRect(const QRectF& view)
{
    delete eraserRect;
    eraserRect = new QRectF(view);
}

void dropEraserRect()
{
    delete eraserRect;
    eraserRect = nullptr;
}

// Runs f on the GUI thread (from any thread), after the events already queued.
void onGuiThread(QCoreApplication* app, std::function<void()> f)
{
    if (app != nullptr)
        QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
}

}  // namespace

// GUI thread.
bool BoardWidget::event(QEvent* e)
{
    switch (e->type()) {
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
        break;
    case QEvent::TouchCancel:
        e->accept();
        cancelTouch();
        return true;
    default:
        return QWidget::event(e);
    }
    e->accept();
    auto* te = static_cast<QTouchEvent*>(e);
    const QList<QTouchEvent::TouchPoint>& pts = te->touchPoints();
    if (page == nullptr || pts.isEmpty())
        return true;

    const long time = boardClock();
    const QTouchEvent::TouchPoint first = pts.first();
    const float x = static_cast<float>(first.pos().x());
    const float y = static_cast<float>(first.pos().y());
    const int n = pts.size();

    if (n == 1) {
        switch (first.state()) {
        case Qt::TouchPointPressed:
            penDown(x, y, time);
            touchModel = PEN;
            break;
        case Qt::TouchPointReleased:
            if (touchModel == PEN) {
                penUp(x, y, time);
                if (eraserStatus == ES_PEN)
                    finishPenStroke();
            }
            touchModel = IDEL;
            if (viewMoved())
                drawWin();
            break;
        case Qt::TouchPointMoved:
            // Only the finger that started the stroke or erasure extends it: a
            // finger left over from a gesture must not add eraser rectangles
            // to whatever stroke is last.
            if (touchModel == PEN)
                penMove(x, y, time);
            break;
        default:
            break;
        }
        update();
        return true;
    }

    // Several points: the first point pressed or released in list order
    // tells the kind of the event.
    enum { MOVE, PRESS, RELEASE } kind = MOVE;
    for (const QTouchEvent::TouchPoint& p : pts) {
        if (p.state() == Qt::TouchPointPressed) {
            kind = PRESS;
            break;
        }
        if (p.state() == Qt::TouchPointReleased) {
            kind = RELEASE;
            break;
        }
    }

    if (kind == PRESS) {
        Stroke* last = page->getLastStork();
        if (touchModel == PEN && last != nullptr) {
            if (time - last->startTime > GESTURE_GRACE_MS) {
                // The pen keeps drawing with the first finger.
                if (first.state() == Qt::TouchPointMoved)
                    penMove(x, y, time);
                return true;
            }
            // A second finger right after the stroke began: it was the start
            // of a gesture, not a stroke.
            const bool drawn = last->segments.size() > 1;  // split pieces are on the layer
            page->strokes.pop_back();
            delete last;
            if (drawn)
                drawWin();
        }
        page->updateMaxPoint();
        if (n == 2) {
            const QPointF p0 = pts[0].pos(), p1 = pts[1].pos();
            zoomDistance1 = static_cast<float>(QLineF(p0, p1).length());
            const float cx = static_cast<float>((p0.x() + p1.x()) / 2);
            const float cy = static_cast<float>((p0.y() + p1.y()) / 2);
            zoomCenter1 = QPointF(xLeft + cx / xRate, xTop + cy / xRate);
            if (zoomDistance1 > VIEW_WIDTH / 12.0f) {
                touchModel = SCALE;
                zoomRate1 = xRate;
            } else {
                touchModel = DRAG;
            }
        } else if (n == 3) {
            if (touchModel == IDEL || touchModel == PEN || touchModel == SCALE)
                touchModel = DRAG;
        } else {
            touchModel = ERASER;
            const QRectF box = touchBox(pts);
            Stroke* st = new Stroke(time, toPageRect(box));
            page->strokes.push_back(st);
            setEraserRect(box);
            clearOnStrokeLayer(st->segments.back()->getLastPoint());
        }
    } else if (kind == RELEASE) {
        if (((touchModel == IDEL || touchModel == PEN || touchModel == SCALE || touchModel == DRAG) && n <= 2) ||
            (touchModel == ERASER && n <= 4)) {
            // A pen stroke that outlived the grace time stays on the page:
            // put it on the stroke layer as a pen-up would.
            if (touchModel == PEN && eraserStatus == ES_PEN)
                finishPenStroke();
            else if (touchModel == PEN && eraserStatus == ES_ERASER_TRAP)
                drawWin();
            dropEraserRect();
            touchModel = IDEL;
            if (dragReset())
                return true;
            // Inside the limits: the layers follow the view now, so no
            // uncovered strip stays on screen.
            if (viewMoved())
                drawWin();
        }
    } else {
        switch (touchModel) {
        case SCALE: {
            const QPointF p0 = pts[0].pos(), p1 = pts[1].pos();
            xRate = static_cast<float>(zoomRate1 * QLineF(p0, p1).length() / zoomDistance1);
            float minRate, maxRate;
            rateLimits(minRate, maxRate);
            if (xRate < minRate)
                xRate = minRate / std::sqrt(minRate / xRate);
            else if (xRate > maxRate)
                xRate = maxRate / std::sqrt(maxRate / xRate);
            const float cx = static_cast<float>((p0.x() + p1.x()) / 2);
            const float cy = static_cast<float>((p0.y() + p1.y()) / 2);
            xLeft = static_cast<float>(zoomCenter1.x() - cx / xRate);
            xTop = static_cast<float>(zoomCenter1.y() - cy / xRate);
            dragLimit();
            break;
        }
        case DRAG: {
            double sx = 0, sy = 0;
            for (const QTouchEvent::TouchPoint& p : pts) {
                sx += p.pos().x();
                sy += p.pos().y();
            }
            const float cx = static_cast<float>(sx / n);
            const float cy = static_cast<float>(sy / n);
            xLeft = static_cast<float>(zoomCenter1.x() - cx / xRate);
            xTop = static_cast<float>(zoomCenter1.y() - cy / xRate);
            dragLimit();
            break;
        }
        case ERASER:
            if (n >= 4) {
                const QRectF box = touchBox(pts);
                Stroke* st = page->getLastStork();
                if (st != nullptr) {
                    st->addRect(time, toPageRect(box));
                    clearOnStrokeLayer(st->segments.back()->getLastPoint());
                }
                setEraserRect(box);
            }
            break;
        default:
            break;
        }
    }
    update();
    return true;
}

// GUI thread.
void BoardWidget::cancelTouch()
{
    if (touchModel == PEN && page != nullptr && page->getLastStork() != nullptr) {
        if (eraserStatus == ES_PEN)
            finishPenStroke();
        else if (eraserStatus == ES_ERASER_TRAP)
            drawWin();  // the area outlined so far is cleared
    }
    dropEraserRect();
    touchModel = IDEL;
    if (page != nullptr && viewMoved() && !dragReset())
        drawWin();
    update();
}

void BoardWidget::endGesture()
{
    dropEraserRect();
    touchModel = IDEL;
}

// Clears one rectangle-eraser sample on the stroke layer at the window
// transform (the one the layer was rendered at), so that the screen shows
// the erasure before the next re-render.
void BoardWidget::clearOnStrokeLayer(StrokePoint* sp)
{
    if (sp == nullptr || strokeBmp == nullptr || strokeBmp->isNull() || !strokeCvs->begin(strokeBmp))
        return;
    drawRectEraser(strokeCvs, sp, winLeft, winTop, winRate);
    strokeCvs->end();
}

// GUI thread.
void BoardWidget::mousePressEvent(QMouseEvent* e)
{
    if (page == nullptr)
        return;
    if (e->button() == Qt::LeftButton) {
        penDown(e->pos().x(), e->pos().y(), boardClock());
        touchModel = PEN;
        update();
    } else if (e->button() == Qt::RightButton && !(e->buttons() & Qt::LeftButton)) {
        // The pan holds the page point under the pointer where it started.
        zoomCenter1 = QPointF(e->pos().x() / xRate + xLeft, e->pos().y() / xRate + xTop);
    }
}

// GUI thread.
void BoardWidget::mouseMoveEvent(QMouseEvent* e)
{
    if (page == nullptr)
        return;
    const float X = static_cast<float>(e->localPos().x());
    const float Y = static_cast<float>(e->localPos().y());
    if (e->buttons() & Qt::LeftButton) {
        penMove(X, Y, boardClock());
        update();
    } else if (e->buttons() & Qt::RightButton) {
        xLeft = static_cast<float>(zoomCenter1.x() - X / xRate);
        xTop = static_cast<float>(zoomCenter1.y() - Y / xRate);
        zoomCenter1 = QPointF(X / xRate + xLeft, Y / xRate + xTop);
        dragLimit();
        update();
    } else {
        zoomCenter1 = QPointF(X / xRate + xLeft, Y / xRate + xTop);
        zoomRate1 = xRate;
    }
}

// GUI thread.
void BoardWidget::mouseReleaseEvent(QMouseEvent* e)
{
    if (page == nullptr)
        return;
    const float X = static_cast<float>(e->localPos().x());
    const float Y = static_cast<float>(e->localPos().y());
    if (e->button() == Qt::LeftButton) {
        // Only a stroke this button started is ended (a stray release must
        // not add a point to an older stroke).
        if (touchModel == PEN) {
            penUp(X, Y, boardClock());
            if (eraserStatus == ES_PEN)
                finishPenStroke();
        }
        touchModel = IDEL;
        update();
    } else if (e->button() == Qt::RightButton) {
        if (viewMoved() && !dragReset()) {
            drawWin();
            update();
        }
    }
}

// GUI thread.
void BoardWidget::dragLimit()
{
    if (bkgBmp == nullptr) {
        const float maxLeft = EXTENT_RIGHT - VIEW_WIDTH / xRate;
        const float maxTop = EXTENT_BOTTOM - VIEW_HEIGHT / xRate;
        if (xLeft < MIN_LEFT)
            xLeft = MIN_LEFT - damp(MIN_LEFT - xLeft);
        else if (xLeft > maxLeft)
            xLeft = maxLeft + damp(xLeft - maxLeft);
        if (xTop < MIN_TOP)
            xTop = MIN_TOP - damp(MIN_TOP - xTop);
        else if (xTop > maxTop)
            xTop = maxTop + damp(xTop - maxTop);
        return;
    }
    auto limit = [](float& v, float size, float view) {
        if (view / xRate > size) {
            // Narrower than the view: the image belongs in its middle.
            const float centre = (size - view / xRate) / 2;
            v = v < centre ? centre - damp(centre - v) : centre + damp(v - centre);
        } else {
            const float maxV = size - view / xRate;
            if (v < 0)
                v = -damp(-v);
            if (v > maxV)
                v = maxV + damp(v - maxV);
        }
    };
    limit(xLeft, static_cast<float>(bkgBmp->width()), static_cast<float>(VIEW_WIDTH));
    limit(xTop, static_cast<float>(bkgBmp->height()), static_cast<float>(VIEW_HEIGHT));
}

// GUI thread.
bool BoardWidget::dragReset()
{
    float minRate, maxRate;
    rateLimits(minRate, maxRate);
    const float TagRate = std::max(minRate, std::min(xRate, maxRate));
    const float vw = static_cast<float>(VIEW_WIDTH);
    const float vh = static_cast<float>(VIEW_HEIGHT);
    float XLimit, YLimit;
    if (bkgBmp == nullptr) {
        // The view's centre stays where it is while the rate springs back.
        XLimit = xLeft - (vw / 2) / TagRate + (vw / 2) / xRate;
        if (xLeft < MIN_LEFT)
            XLimit = MIN_LEFT;
        const float maxLeft = EXTENT_RIGHT - vw / TagRate;
        if (xLeft > maxLeft)
            XLimit = maxLeft;
        YLimit = xTop - (vh / 2) / TagRate + (vh / 2) / xRate;
        if (xTop < MIN_TOP)
            YLimit = MIN_TOP;
        const float maxTop = EXTENT_BOTTOM - vh / TagRate;
        if (xTop > maxTop)
            YLimit = maxTop;
    } else {
        auto target = [TagRate](float v, float size, float view) {
            if (view / TagRate > size)
                return (size - view / TagRate) / 2;
            return std::min(std::max(v, 0.0f), size - view / TagRate);
        };
        XLimit = target(xLeft, static_cast<float>(bkgBmp->width()), vw);
        YLimit = target(xTop, static_cast<float>(bkgBmp->height()), vh);
    }
    if (TagRate == xRate && XLimit == xLeft && YLimit == xTop)
        return false;
    doReset(TagRate, XLimit, YLimit);
    return true;
}

// Called on the GUI thread. The pool worker only sleeps between the passes;
// every pass is handed back to the GUI thread, which owns the transforms,
// the layers and the widget. The worker touches none of them (not even the
// widget's guard): it only passes the task record along.
void BoardWidget::doReset(float TagRate, float XLimit, float YLimit)
{
    struct SpringBack {
        QPointer<BoardWidget> widget;  // used on the GUI thread only
        float rate, left, top;
    };
    SpringBack* task = new SpringBack{QPointer<BoardWidget>(this), TagRate, XLimit, YLimit};
    QCoreApplication* app = QCoreApplication::instance();
    ++springBacks;
    QThreadPool::globalInstance()->start([task, app]() {
        // Pool worker thread.
        onGuiThread(app, [task]() {
            winRate = xRate;
            winLeft = xLeft;
            winTop = xTop;
            xRate = task->rate;
            xLeft = task->left;
            xTop = task->top;
            if (task->widget)
                task->widget->drawWin();
        });
        for (int pass = 0; pass < RESET_PASSES; ++pass) {
            const bool last = pass == RESET_PASSES - 1;
            onGuiThread(app, [task, last]() {
                if (last) {
                    winRate = task->rate;
                    winLeft = task->left;
                    winTop = task->top;
                }
                if (task->widget)
                    task->widget->update();
                if (last) {
                    delete task;
                    --springBacks;
                }
            });
            QThread::msleep(RESET_PAUSE_MS);
        }
    });
}

// GUI thread.
void BoardWidget::priorPage()
{
    if (pageIdx > 0)
        loadPage(static_cast<unsigned int>(pageIdx - 1));
}

// GUI thread.
void BoardWidget::nextPage()
{
    if (pageIdx < static_cast<int>(pages.size()) - 1)
        loadPage(static_cast<unsigned int>(pageIdx + 1));
}

// GUI thread. The type for new pages too; an image already loaded stays
// until the next page load.
void BoardWidget::setBkgType(BkgType type)
{
    if (page != nullptr)
        page->setBkgType(type);
    bkgType = type;
    drawWin();
    update();
}

// GUI thread.
void BoardWidget::setGridType(int gridType)
{
    if (page != nullptr)
        page->gridType = gridType;
    gridTypeIdx = gridType;
    drawWin();
    update();
}

// GUI thread.
void BoardWidget::setGridSize(int gridSize)
{
    if (page != nullptr)
        page->gridSize = gridSize;
    gridSizeIdx = gridSize;
    drawWin();
    update();
}

// GUI thread.
void BoardWidget::undo()
{
    if (page == nullptr || page->strokes.empty())
        return;
    delete page->strokes.back();
    page->strokes.pop_back();
    drawWin();
    update();
}

// GUI thread.
void BoardWidget::clear()
{
    if (page == nullptr)
        return;
    for (Stroke* st : page->strokes)
        delete st;
    page->strokes.clear();
    // An empty page exports at the view's size again.
    page->updateMaxPoint();
    xRate = 1;
    xLeft = 0;
    xTop = 0;
    eraserStatus = ES_PEN;
    drawWin();
    update();
}

// GUI thread.
QString BoardWidget::savePage()
{
    if (pageIdx < 0)
        return QString();
    const QString stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss-zzz");
    QString path = QDir::current().absoluteFilePath(QString("board-%1.png").arg(stamp));
    for (int i = 1; QFileInfo::exists(path); ++i)
        path = QDir::current().absoluteFilePath(QString("board-%1-%2.png").arg(stamp).arg(i));
    QPixmap* pm = savePageToPixmap(pageIdx);
    const bool ok = pm != nullptr && pm->save(path, "PNG");
    delete pm;
    if (!ok) {
        std::printf("SavePage FAILED: %s\n", path.toLocal8Bit().constData());
        return QString();
    }
    std::printf("SavePage: %s\n", path.toLocal8Bit().constData());
    return path;
}

// GUI thread. Letters and digits act without modifiers; Ctrl+Z, Ctrl+N and
// Ctrl+S as named; Shift+G steps the grid size.
void BoardWidget::keyPressEvent(QKeyEvent* e)
{
    const Qt::KeyboardModifiers mods = e->modifiers() & ~Qt::KeypadModifier;
    const bool plain = mods == Qt::NoModifier;
    const bool ctrl = mods == Qt::ControlModifier;
    const int key = e->key();

    if (plain && key >= Qt::Key_1 && key <= Qt::Key_6) {
        penColorIdx = key - Qt::Key_1;
    } else if (plain && key >= Qt::Key_7 && key <= Qt::Key_9) {
        setPaintThickness(key - Qt::Key_7);
    } else if (plain && key == Qt::Key_P) {
        eraserStatus = ES_PEN;
        dropEraserRect();
    } else if (plain && key == Qt::Key_E) {
        eraserStatus = ES_ERASER_RECT;
    } else if (plain && key == Qt::Key_T) {
        eraserStatus = ES_ERASER_TRAP;
        dropEraserRect();
    } else if (plain && key == Qt::Key_S) {
        penModelIdx = 0;
    } else if (plain && key == Qt::Key_H) {
        penModelIdx = 1;
    } else if (plain && key == Qt::Key_B) {
        const BkgType cur = page != nullptr ? page->getBkgType() : bkgType;
        setBkgType(cur == BT_GREEN ? BT_BLACK : cur == BT_BLACK ? BT_WHITE : BT_GREEN);
    } else if (plain && key == Qt::Key_G) {
        setGridType(gridTypeIdx == 0 ? 1 : gridTypeIdx == 1 ? 2 : 0);
    } else if (mods == Qt::ShiftModifier && key == Qt::Key_G) {
        setGridSize(gridSizeIdx >= 2 || gridSizeIdx < 0 ? 0 : gridSizeIdx + 1);
    } else if (ctrl && key == Qt::Key_Z) {
        endGesture();
        undo();
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
    } else {
        QWidget::keyPressEvent(e);
        return;
    }
    e->accept();
    update();
}
