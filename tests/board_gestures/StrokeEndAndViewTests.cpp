// Where strokes end and start (mouse and touch alike, tool switches, the
// 100 ms rule), where the window transform may change, and views that must
// stay finite and inside their limits.
#include "BoardTestSupport.h"

#include <QElapsedTimer>
#include <QRunnable>
#include <QScreen>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThreadPool>
#include <cmath>

using namespace boardtest;

namespace {

const QPointF A(800, 500), B(900, 500);

class StrokeEnds : public BoardTest {
protected:
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(board, static_cast<Qt::Key>(k), mods);
    }
    void leftPress(QPointF p) { mouse(board, QEvent::MouseButtonPress, p, Qt::LeftButton, Qt::LeftButton); }
    void leftMove(QPointF p)
    {
        now() += 10;
        mouse(board, QEvent::MouseMove, p, Qt::NoButton, Qt::LeftButton);
    }
    void leftRelease(QPointF p) { mouse(board, QEvent::MouseButtonRelease, p, Qt::LeftButton, Qt::NoButton); }
    void rightPan(QPointF from, QPointF to)
    {
        mouse(board, QEvent::MouseButtonPress, from, Qt::RightButton, Qt::RightButton);
        mouse(board, QEvent::MouseMove, to, Qt::NoButton, Qt::RightButton);
        mouse(board, QEvent::MouseButtonRelease, to, Qt::RightButton, Qt::NoButton);
    }
    static size_t pointCount(const Stroke* st)
    {
        size_t n = 0;
        for (const Segment* seg : st->segments)
            n += seg->points.size();
        return n;
    }
    static bool hasRectangleSamples(const Stroke* st)
    {
        for (const Segment* seg : st->segments)
            for (const StrokePoint* sp : seg->points)
                if (sp->point2 != nullptr)
                    return true;
        return false;
    }
};

TEST_F(StrokeEnds, MouseEraserDragEndsAtUndoAndDoesNotReachTheOlderStroke)
{
    fingerStroke(A, B);
    Stroke* pen = page->strokes[0];
    const size_t n = pointCount(pen);
    key(Qt::Key_E);
    leftPress(QPointF(850, 500));
    leftMove(QPointF(860, 500));
    ASSERT_EQ(page->strokes.size(), 2u);
    key(Qt::Key_Z, Qt::ControlModifier);  // takes the eraser stroke away mid-drag
    ASSERT_EQ(page->strokes.size(), 1u);
    leftMove(QPointF(870, 500));
    leftMove(QPointF(880, 500));
    leftRelease(QPointF(880, 500));
    ASSERT_EQ(page->strokes.size(), 1u);
    EXPECT_EQ(pointCount(pen), n);
    EXPECT_FALSE(hasRectangleSamples(pen));
}

TEST_F(StrokeEnds, MouseEraserDragEndsAtAPageChange)
{
    fingerStroke(A, B);
    key(Qt::Key_N, Qt::ControlModifier);
    fingerStroke(QPointF(300, 300), QPointF(500, 300));
    Page* second = page;
    Stroke* pen = second->strokes[0];
    const size_t n = pointCount(pen);
    key(Qt::Key_PageUp);
    key(Qt::Key_E);
    leftPress(QPointF(850, 500));
    leftMove(QPointF(860, 500));
    key(Qt::Key_PageDown);
    ASSERT_EQ(page, second);
    leftMove(QPointF(400, 300));
    leftRelease(QPointF(400, 300));
    EXPECT_EQ(second->strokes.size(), 1u);
    EXPECT_EQ(pointCount(pen), n);
    EXPECT_FALSE(hasRectangleSamples(pen));
}

TEST_F(StrokeEnds, ToolSwitchMidStrokeEndsTheStrokeForMouseAndTouch)
{
    // Mouse: E in the middle of a pen stroke (P, the tool in use, keeps it).
    leftPress(A);
    for (int i = 1; i <= 3; ++i)
        leftMove(A + QPointF(10 * i, 0));
    key(Qt::Key_P);
    EXPECT_EQ(touchModel, PEN);
    for (int i = 4; i <= 5; ++i)
        leftMove(A + QPointF(10 * i, 0));
    key(Qt::Key_E);
    EXPECT_EQ(touchModel, IDEL);
    leftMove(A + QPointF(60, 0));
    leftMove(A + QPointF(70, 0));
    leftRelease(A + QPointF(70, 0));
    ASSERT_EQ(page->strokes.size(), 1u);
    EXPECT_FALSE(hasRectangleSamples(page->strokes[0]));
    EXPECT_EQ(pointCount(page->strokes[0]), 6u);
    // The stroke ended with the switch is on the stroke layer.
    EXPECT_GT(inkPixels(QRect(790, 480, 70, 40)), 10);

    // Touch: T and then E while a finger draws.
    key(Qt::Key_P);
    const QPointF C(300, 700);
    touch(board, {pressed(0, C)});
    for (int i = 1; i <= 5; ++i) {
        now() += 10;
        touch(board, {moved(0, C + QPointF(10 * i, 0))});
    }
    key(Qt::Key_T);
    now() += 10;
    touch(board, {moved(0, C + QPointF(60, 0))});
    key(Qt::Key_E);
    now() += 10;
    touch(board, {moved(0, C + QPointF(70, 0))});
    touch(board, {released(0, C + QPointF(70, 0))});
    ASSERT_EQ(page->strokes.size(), 2u);
    EXPECT_EQ(page->strokes[1]->type, TT_P_SOFT);
    EXPECT_FALSE(hasRectangleSamples(page->strokes[1]));
    EXPECT_EQ(pointCount(page->strokes[1]), 6u);
    EXPECT_GT(inkPixels(QRect(290, 680, 70, 40)), 10);
}

TEST_F(StrokeEnds, EraserStrokeTakenForAGestureGivesItsInkBack)
{
    fingerStroke(QPointF(600, 500), QPointF(1000, 500));
    const QRect square(760, 460, 80, 80);
    const int ink = inkPixels(square);
    ASSERT_GT(ink, 50);
    eraserStatus = ES_ERASER_RECT;
    now() = 50000;
    touch(board, {pressed(0, QPointF(800, 500))});
    ASSERT_EQ(inkPixels(square), 0);  // cleared at once
    now() += 60;
    touch(board, {still(0, QPointF(800, 500)), pressed(1, QPointF(1400, 500))});
    ASSERT_EQ(page->strokes.size(), 1u);  // the eraser stroke was dropped
    EXPECT_EQ(inkPixels(square), ink);    // and the layer shows the ink again
    touch(board, {released(0, QPointF(800, 500)), released(1, QPointF(1400, 500))});
}

class View : public StrokeEnds {};

TEST_F(View, ReRenderDuringASpringBackKeepsTheLayersWhereTheyAreShown)
{
    rightPan(QPointF(100, 500), QPointF(100, 9500));  // far past the top edge
    ASSERT_EQ(runningSpringBacks(), 1);
    QElapsedTimer t;
    t.start();
    while (xTop != -8640.0f && t.elapsed() < 60000)
        QTest::qWait(1);
    ASSERT_FLOAT_EQ(xTop, -8640);
    // A second pan, inside the limits, while the spring-back still repaints.
    rightPan(QPointF(500, 500), QPointF(600, 450));
    EXPECT_FLOAT_EQ(xLeft, -100);
    EXPECT_FLOAT_EQ(xTop, -8590);
    ASSERT_TRUE(waitForSpringBacks());
    // The layers were last rendered at the view transform: shown there too.
    EXPECT_FLOAT_EQ(winLeft, xLeft);
    EXPECT_FLOAT_EQ(winTop, xTop);
    EXPECT_FLOAT_EQ(winRate, xRate);
}

TEST_F(View, PanEndingInsideTheLimitsAtAnyRateNeedsNoSpringBack)
{
    int started = 0;
    for (float rate : {1.3f, 0.7f, 2.9f, 0.23f}) {
        for (int i = 0; i < 60; ++i) {
            xRate = rate;
            xLeft = -900.0f + 37.37f * i;
            xTop = 3.3f + 11.13f * i;
            started += board->dragReset() ? 1 : 0;
        }
    }
    EXPECT_EQ(started, 0);
}

TEST_F(View, TwoFingersMeetingOnOnePointKeepTheViewFinite)
{
    for (const QPointF meet : {QPointF(960, 540), QPointF(0, 0)}) {
        xRate = 1;
        xLeft = 0;
        xTop = 0;
        board->drawWin();
        const QPointF a = meet + QPointF(0, 0), b = meet + QPointF(400, 300);
        touch(board, {pressed(0, a), pressed(1, b)});
        ASSERT_EQ(touchModel, SCALE);
        touch(board, {moved(0, meet), moved(1, meet)});
        EXPECT_GT(xRate, 0);
        EXPECT_TRUE(std::isfinite(xLeft) && std::isfinite(xTop));
        touch(board, {released(0, meet), released(1, meet)});
        ASSERT_TRUE(waitForSpringBacks());
        EXPECT_FLOAT_EQ(xRate, RATE_MIN);
        EXPECT_TRUE(std::isfinite(xLeft) && std::isfinite(xTop));
        EXPECT_TRUE(std::isfinite(winLeft) && std::isfinite(winTop));
        EXPECT_GE(xLeft, -15360);
        EXPECT_GE(xTop, -8640);
    }
}

// Holds every worker of the global pool until released.
class PoolBlocker {
public:
    PoolBlocker()
    {
        QThreadPool* pool = QThreadPool::globalInstance();
        count_ = pool->maxThreadCount();
        for (int i = 0; i < count_; ++i) {
            QSemaphore* gate = &gate_;
            QSemaphore* started = &started_;
            pool->start([gate, started]() {
                started->release();
                gate->acquire();
            });
        }
        started_.acquire(count_);
    }
    ~PoolBlocker()
    {
        gate_.release(count_);
        QThreadPool::globalInstance()->waitForDone();
    }

private:
    int count_ = 0;
    QSemaphore gate_, started_;
};

TEST_F(View, SpringBackNeedsNoWorkerOfTheSharedPool)
{
    PoolBlocker busy;
    rightPan(QPointF(100, 500), QPointF(100, 9500));
    ASSERT_EQ(runningSpringBacks(), 1);
    EXPECT_TRUE(waitForSpringBacks());
    EXPECT_FLOAT_EQ(xTop, -8640);
    EXPECT_FLOAT_EQ(winTop, -8640);
}

TEST_F(View, AThirdFingerNeitherJumpsTheViewNorStaysItsAnchor)
{
    // A zoom that becomes a pan.
    touch(board, {pressed(0, QPointF(100, 500)), pressed(1, QPointF(900, 500))});
    touch(board, {moved(0, QPointF(50, 500)), moved(1, QPointF(950, 500))});
    const float rate = xRate, left = xLeft, top = xTop;
    touch(board, {still(0, QPointF(50, 500)), still(1, QPointF(950, 500)), pressed(2, QPointF(500, 800))});
    ASSERT_EQ(touchModel, DRAG);
    touch(board, {moved(0, QPointF(50, 500)), moved(1, QPointF(950, 500)), moved(2, QPointF(500, 800))});
    EXPECT_FLOAT_EQ(xRate, rate);
    EXPECT_NEAR(xLeft, left, 1e-3);
    EXPECT_NEAR(xTop, top, 1e-3);
    touch(board, {moved(0, QPointF(150, 500)), moved(1, QPointF(1050, 500)), moved(2, QPointF(600, 800))});
    EXPECT_NEAR(xLeft, left - 100 / rate, 1e-3);
    EXPECT_NEAR(xTop, top, 1e-3);
    // One of three lifts: the two left go on from where the view is.
    touch(board, {still(0, QPointF(150, 500)), still(1, QPointF(1050, 500)), released(2, QPointF(600, 800))});
    ASSERT_EQ(touchModel, DRAG);
    touch(board, {moved(0, QPointF(150, 520)), moved(1, QPointF(1050, 520))});
    EXPECT_NEAR(xLeft, left - 100 / rate, 1e-3);
    EXPECT_NEAR(xTop, top - 20 / rate, 1e-3);
    touch(board, {released(0, QPointF(150, 520)), released(1, QPointF(1050, 520))});
    ASSERT_TRUE(waitForSpringBacks());

    // Three fingers at once, after an earlier gesture left its anchor behind.
    const float left2 = xLeft, top2 = xTop;
    touch(board, {pressed(0, QPointF(300, 300)), pressed(1, QPointF(400, 300)), pressed(2, QPointF(350, 400))});
    ASSERT_EQ(touchModel, DRAG);
    touch(board, {moved(0, QPointF(310, 300)), moved(1, QPointF(410, 300)), moved(2, QPointF(360, 400))});
    EXPECT_NEAR(xLeft, left2 - 10 / xRate, 1e-3);
    EXPECT_NEAR(xTop, top2, 1e-3);
    touch(board, {released(0, QPointF(310, 300)), released(1, QPointF(410, 300)), released(2, QPointF(360, 400))});
}

TEST_F(View, TwoOfThreeFingersLiftingTogetherEndThePan)
{
    touch(board, {pressed(0, QPointF(1000, 500)), pressed(1, QPointF(1100, 500)), pressed(2, QPointF(1050, 600))});
    ASSERT_EQ(touchModel, DRAG);
    const QPointF far(16460, 0);
    touch(board, {moved(0, QPointF(1000, 500) + far), moved(1, QPointF(1100, 500) + far),
                  moved(2, QPointF(1050, 600) + far)});
    ASSERT_LT(xLeft, -15360);
    touch(board, {released(0, QPointF(1000, 500) + far), released(1, QPointF(1100, 500) + far),
                  still(2, QPointF(1050, 600) + far)});
    EXPECT_EQ(touchModel, IDEL);
    touch(board, {released(2, QPointF(1050, 600) + far)});
    ASSERT_TRUE(waitForSpringBacks());
    EXPECT_FLOAT_EQ(xLeft, -15360);
    EXPECT_FLOAT_EQ(winLeft, -15360);
}

TEST_F(View, BackgroundChangesKeepThePenVisible)
{
    ASSERT_EQ(penColorIdx, 5);  // white on green
    key(Qt::Key_B);             // black
    EXPECT_EQ(penColorIdx, 5);
    key(Qt::Key_B);  // white: a white pen would draw nothing visible
    ASSERT_EQ(page->getBkgType(), BT_WHITE);
    EXPECT_EQ(penColorIdx, 0);
    // A colour the user chose stays.
    key(Qt::Key_2);
    key(Qt::Key_B);
    key(Qt::Key_B);
    key(Qt::Key_B);
    EXPECT_EQ(page->getBkgType(), BT_WHITE);
    EXPECT_EQ(penColorIdx, 1);
}

TEST_F(View, ExportAndScreenFollowABackgroundChangeOfAnImagePage)
{
    QTemporaryDir dir;
    ASSERT_TRUE(newImagePage(board, dir, 960, 540, qRgb(200, 100, 50)));
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->setGridType(0);
    key(Qt::Key_B);  // an image page turns green
    ASSERT_EQ(page->getBkgType(), BT_GREEN);
    EXPECT_EQ(winBmp->toImage().pixel(1900, 1000), 0xFF274143u);
    QPixmap* out = board->savePageToPixmap(pageIdx);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->toImage().pixel(out->width() - 1, out->height() - 1), 0xFF274143u);
    delete out;
}

}  // namespace

namespace {

// Records the rectangles of the paint events a widget gets.
class PaintSpy : public QObject {
public:
    explicit PaintSpy(QWidget* w) { w->installEventFilter(this); }
    std::vector<QRect> rects;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            rects.push_back(static_cast<QPaintEvent*>(e)->rect());
        return false;
    }
};

class Repaint : public StrokeEnds {
protected:
    // What the screen shows now, and what a full repaint would show.
    QImage onScreen() { return board->screen()->grabWindow(board->winId()).toImage(); }
    QImage full() { return board->grab().toImage(); }
    void settle()
    {
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
};

TEST_F(Repaint, PenMovesRepaintOnlyTheirInkAndTheScreenStaysWhole)
{
    settle();
    PaintSpy spy(board);
    for (int model : {0, 1}) {  // soft pen, then hard pen
        SCOPED_TRACE(model);
        penModelIdx = model;
        const QPointF start(400 + 600 * model, 300);
        leftPress(start);
        settle();
        spy.rects.clear();
        for (int i = 1; i <= 30; ++i) {
            // A wavy line with corners, so that the soft pen splits.
            leftMove(start + QPointF(8 * i, (i / 5) % 2 == 0 ? 3 * (i % 5) : 15 - 3 * (i % 5)));
            settle();
        }
        ASSERT_FALSE(spy.rects.empty());
        for (const QRect& r : spy.rects)
            EXPECT_LT(r.width() * r.height(), 400 * 200) << r.x() << "," << r.y() << " " << r.width() << "x"
                                                         << r.height();
        // Partial repaints leave the screen as a full repaint draws it.
        EXPECT_EQ(onScreen(), full());
        leftRelease(start + QPointF(240, 0));
        settle();
        EXPECT_EQ(onScreen(), full());
    }
    // The rectangle eraser's square moves with the pointer, its trail cleared.
    key(Qt::Key_E);
    leftPress(QPointF(500, 310));
    settle();
    for (int i = 1; i <= 10; ++i) {
        leftMove(QPointF(500 + 20 * i, 310));
        settle();
    }
    EXPECT_EQ(onScreen(), full());
    leftRelease(QPointF(700, 310));
    settle();
    EXPECT_EQ(onScreen(), full());
}

}  // namespace
