#include "BoardWidget.h"

#include "BoardActions.h"
#include "BoardPrivate.h"
#include "BoardSaver.h"
#include "EraseCommand.h"
#include "StrokeCommand.h"

#include "Utils.h"

#include <QResizeEvent>
#include <QUndoStack>
#include <algorithm>
#include <cmath>

// The board's pictures are compiled into the library; registering them here
// pulls them in wherever the widget is linked.
static void registerResources()
{
    Q_INIT_RESOURCE(board);
}

// ---------------------------------------------------------------------------
// Construction, resizing, pen input
// ---------------------------------------------------------------------------

// Commands kept for undo; the oldest go (and free what they hold) beyond it.
static const int UNDO_LIMIT = 500;

BoardWidget::BoardWidget(QWidget* parent)
    : QWidget(parent), undoStack_(new QUndoStack(this)), actions_(nullptr)
{
    undoStack_->setUndoLimit(UNDO_LIMIT);
    actions_ = new BoardActions(this);
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

BoardWidget::~BoardWidget()
{
    // The history goes with the widget; a stroke still being drawn stays on
    // its page (the pages outlive the widget).
    liveStroke = nullptr;
    livePage = nullptr;
    delete saver_;  // saves what is pending while the pages are all there
    saver_ = nullptr;
    undoStack_->clear();
}

QUndoStack* BoardWidget::undoStack() const
{
    return undoStack_;
}

QAction* BoardWidget::action(const QString& name) const
{
    return actions_->action(name);
}

void BoardWidget::beginStroke(Stroke* st)
{
    commitStroke();
    liveStroke = st;
    livePage = page;
}

void BoardWidget::commitStroke()
{
    Stroke* st = liveStroke;
    Page* pg = livePage;
    liveStroke = nullptr;
    livePage = nullptr;
    if (st == nullptr || pg == nullptr || std::find(pages.begin(), pages.end(), pg) == pages.end() ||
        std::find(pg->strokes.begin(), pg->strokes.end(), st) == pg->strokes.end())
        return;
    if (st->type == TT_P_SOFT || st->type == TT_P_HARD)
        undoStack_->push(new StrokeCommand(this, pg, st));
    else
        undoStack_->push(new EraseCommand(this, pg, st));
    boardChanged();
    emit pageEdited(static_cast<int>(std::find(pages.begin(), pages.end(), pg) - pages.begin()));
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
    update();
}

void BoardWidget::penDown(float x, float y, long time)
{
    delete eraserRect;
    eraserRect = nullptr;
    if (page == nullptr)
        return;
    // A stroke still running ends where the next one begins.
    commitStroke();
    const float px = x / xRate + xLeft;
    const float py = y / xRate + xTop;
    const size_t before = page->strokes.size();
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
    if (page->strokes.size() != before)
        beginStroke(page->strokes.back());
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

void BoardWidget::penMoveAndRepaint(float X, float Y, long time)
{
    const QRect before = liveRect();
    penMove(X, Y, time);
    // Everything a move changes lies in the feedback before and after it: a
    // soft-pen split draws the completed piece where the feedback showed
    // it, and the rectangle eraser clears what its square covers.
    const bool sameTransform =
        Utils::isEquals(winRate, xRate) && Utils::isEquals(winLeft, xLeft) && Utils::isEquals(winTop, xTop);
    if (sameTransform)
        update(before | liveRect());
    else
        update();
}

void BoardWidget::penUp(float X, float Y, long time)
{
    boardChanged();
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
