#include "BoardWidget.h"

#include "BoardPrivate.h"
#include "Utils.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QTouchEvent>
#include <algorithm>
#include <cmath>
#include <memory>

// ---------------------------------------------------------------------------
// Gestures and the elastic view
// ---------------------------------------------------------------------------

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

// Points of a touch event that stay down after it (pressed, moved or
// stationary).
int pointsDown(const QList<QTouchEvent::TouchPoint>& pts)
{
    int down = 0;
    for (const QTouchEvent::TouchPoint& p : pts)
        down += p.state() != Qt::TouchPointReleased;
    return down;
}

// Anchors a pan at the page point under the mean of the points that stay
// down, so that a finger landing or lifting moves nothing: only later
// movement of the fingers does.
void anchorPan(const QList<QTouchEvent::TouchPoint>& pts)
{
    double sx = 0, sy = 0;
    int down = 0;
    for (const QTouchEvent::TouchPoint& p : pts) {
        if (p.state() == Qt::TouchPointReleased)
            continue;
        sx += p.pos().x();
        sy += p.pos().y();
        ++down;
    }
    if (down == 0)
        return;
    const float cx = static_cast<float>(sx / down);
    const float cy = static_cast<float>(sy / down);
    zoomCenter1 = QPointF(xLeft + cx / xRate, xTop + cy / xRate);
}

// One repaint of a spring-back; the next follows RESET_PAUSE_MS later on the
// GUI thread's timers (GUI thread).
struct SpringBack {
    QPointer<BoardWidget> widget;
    int pass;
};

void springBackPass(std::shared_ptr<SpringBack> task)
{
    if (task->widget)
        task->widget->update();
    if (++task->pass >= RESET_PASSES) {
        --springBacks;
        return;
    }
    QTimer::singleShot(static_cast<int>(RESET_PAUSE_MS), QCoreApplication::instance(),
                       [task]() { springBackPass(task); });
}

}  // namespace

void dropEraserRect()
{
    delete eraserRect;
    eraserRect = nullptr;
}

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
            commitStroke();
            touchModel = IDEL;
            if (viewMoved() && !dragReset())
                drawWin();
            break;
        case Qt::TouchPointMoved:
            // Only the finger that started the stroke or erasure extends it: a
            // finger left over from a gesture must not add eraser rectangles
            // to whatever stroke is last.
            if (touchModel == PEN)
                penMoveAndRepaint(x, y, time);
            return true;
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
            // Split pieces of a pen stroke are on the layer already, and a
            // rectangle eraser has cleared its square: the layer shows them
            // until it is rendered without the stroke.
            const bool drawn = last->segments.size() > 1 || last->type == TT_E_RECT;
            page->strokes.pop_back();
            if (last == liveStroke) {
                liveStroke = nullptr;
                livePage = nullptr;
            }
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
            if (touchModel == DRAG)
                anchorPan(pts);
        } else {
            touchModel = ERASER;
            const QRectF box = touchBox(pts);
            Stroke* st = new Stroke(time, toPageRect(box));
            page->strokes.push_back(st);
            beginStroke(st);
            setEraserRect(box);
            clearOnStrokeLayer(st->segments.back()->getLastPoint());
        }
    } else if (kind == RELEASE) {
        // Several fingers may lift in one event: what counts is how many stay.
        const int down = pointsDown(pts);
        if (((touchModel == IDEL || touchModel == PEN || touchModel == SCALE || touchModel == DRAG) && down <= 1) ||
            (touchModel == ERASER && down <= 3)) {
            // A pen stroke that outlived the grace time stays on the page:
            // put it on the stroke layer as a pen-up would.
            if (touchModel == PEN && eraserStatus == ES_PEN)
                finishPenStroke();
            else if (touchModel == PEN && eraserStatus == ES_ERASER_TRAP)
                drawWin();
            commitStroke();
            dropEraserRect();
            touchModel = IDEL;
            boardChanged();
            if (dragReset())
                return true;
            // Inside the limits: the layers follow the view now, so no
            // uncovered strip stays on screen.
            if (viewMoved())
                drawWin();
        } else if (touchModel == DRAG) {
            anchorPan(pts);
        }
    } else {
        switch (touchModel) {
        case SCALE: {
            const QPointF p0 = pts[0].pos(), p1 = pts[1].pos();
            // Fingers on one point count as a pixel apart: the rate stays
            // above 0 and the view finite.
            const double dist = std::max(QLineF(p0, p1).length(), 1.0);
            xRate = static_cast<float>(zoomRate1 * dist / zoomDistance1);
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
    endStroke();
    touchModel = IDEL;
    if (page != nullptr && viewMoved() && !dragReset())
        drawWin();
    update();
}

void BoardWidget::endStroke()
{
    if (touchModel == PEN && page != nullptr && page->getLastStork() != nullptr) {
        if (eraserStatus == ES_PEN)
            finishPenStroke();
        else if (eraserStatus == ES_ERASER_TRAP)
            drawWin();  // the area outlined so far is cleared
        boardChanged();
    }
    commitStroke();
    endGesture();
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
        // Only a stroke this button started grows: Ctrl+Z, a page change or
        // a tool switch ended it.
        if (touchModel == PEN)
            penMoveAndRepaint(X, Y, boardClock());
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
            commitStroke();
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
    // The centre-keeping arithmetic does not give xLeft back exactly in
    // float: within the comparison tolerance the view is where it belongs.
    if (TagRate == xRate && Utils::isEquals(XLimit, xLeft) && Utils::isEquals(YLimit, xTop))
        return false;
    doReset(TagRate, XLimit, YLimit);
    return true;
}

// GUI thread. The target is applied and rendered at once; the repaints that
// follow are timed by the GUI thread's timers, so no worker of the shared
// thread pool waits for them. Only drawWin sets the window transform: a
// re-render in between (another pan, a page operation, a resize) leaves the
// layers shown where they were rendered.
void BoardWidget::doReset(float TagRate, float XLimit, float YLimit)
{
    ++springBacks;
    xRate = TagRate;
    xLeft = XLimit;
    xTop = YLimit;
    drawWin();
    springBackPass(std::make_shared<SpringBack>(SpringBack{QPointer<BoardWidget>(this), 0}));
}
