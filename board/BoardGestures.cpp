#include "BoardWidget.h"

#include "BoardPrivate.h"
#include "Utils.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QTouchEvent>
#include <algorithm>
#include <cmath>
#include <functional>

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

// Runs f on the GUI thread (from any thread), after the events already queued.
void onGuiThread(QCoreApplication* app, std::function<void()> f)
{
    if (app != nullptr)
        QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
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
