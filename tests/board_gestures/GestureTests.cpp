// Touch and mouse gestures on the real widget: the gesture table, the
// rectangle eraser under four or more fingers, the elastic view and its
// spring-back.
#include "BoardTestSupport.h"

#include <QTemporaryDir>
#include <cmath>

using namespace boardtest;

namespace {

const QPointF A(800, 500), B(900, 500);

class Gestures : public BoardTest {};

TEST_F(Gestures, OneFingerDrawsAStrokeWithoutReRendering)
{
    markStrokeLayer();
    touch(board, {pressed(0, A)});
    EXPECT_EQ(touchModel, PEN);
    ASSERT_EQ(page->strokes.size(), 1u);
    for (int i = 1; i <= 10; ++i) {
        now() += 10;
        touch(board, {moved(0, A + QPointF(10 * i, 0))});
    }
    now() += 10;
    touch(board, {released(0, B)});
    EXPECT_EQ(touchModel, IDEL);
    ASSERT_EQ(page->strokes.size(), 1u);
    EXPECT_EQ(page->strokes[0]->type, TT_P_SOFT);
    EXPECT_GE(page->strokes[0]->segments.back()->points.size(), 10u);
    // The finished stroke is on the layer, and the layer was not rendered anew.
    EXPECT_GT(inkPixels(QRect(790, 480, 130, 40)), 50);
    EXPECT_TRUE(strokeLayerMarked());
}

TEST_F(Gestures, OneFingerReleaseReRendersWhenTheViewMoved)
{
    xLeft = 30;  // as a pan that has not been rendered yet leaves it
    markStrokeLayer();
    fingerStroke(A, B);
    EXPECT_FALSE(strokeLayerMarked());
    EXPECT_FLOAT_EQ(winLeft, 30);
}

TEST_F(Gestures, SecondFingerWithinGraceTurnsTheStrokeIntoAGesture)
{
    now() = 5000;
    touch(board, {pressed(0, A)});
    now() += 50;
    touch(board, {moved(0, A + QPointF(10, 0))});
    ASSERT_EQ(page->strokes.size(), 1u);
    now() = 5100;  // exactly 100 ms after the stroke began
    touch(board, {still(0, A + QPointF(10, 0)), pressed(1, QPointF(1410, 500))});
    EXPECT_TRUE(page->strokes.empty());
    EXPECT_EQ(touchModel, SCALE);  // 600 apart, more than 1920 / 12
    EXPECT_FLOAT_EQ(zoomRate1, 1);
    EXPECT_FLOAT_EQ(zoomDistance1, 600);
    EXPECT_EQ(zoomCenter1, QPointF(1110, 500));
    touch(board, {released(0, A + QPointF(10, 0)), released(1, QPointF(1410, 500))});
    EXPECT_EQ(touchModel, IDEL);
}

TEST_F(Gestures, StrokeTakenForAGestureLeavesNoInk)
{
    // A quick stroke that turned a corner: its first piece is already drawn.
    now() = 5000;
    touch(board, {pressed(0, QPointF(300, 300))});
    for (int i = 1; i <= 8; ++i) {
        now() += 5;
        touch(board, {moved(0, QPointF(300 + 10 * i, 300))});
    }
    for (int i = 1; i <= 4; ++i) {
        now() += 5;
        touch(board, {moved(0, QPointF(380, 300 + 10 * i))});
    }
    ASSERT_EQ(page->strokes.size(), 1u);
    ASSERT_GT(page->strokes[0]->segments.size(), 1u);
    ASSERT_GT(inkPixels(QRect(290, 290, 100, 60)), 0);
    // Two close fingers, tapped without moving the view.
    now() = 5100;
    touch(board, {still(0, QPointF(380, 340)), pressed(1, QPointF(420, 340))});
    EXPECT_TRUE(page->strokes.empty());
    EXPECT_EQ(touchModel, DRAG);
    touch(board, {released(0, QPointF(380, 340)), released(1, QPointF(420, 340))});
    EXPECT_EQ(inkPixels(QRect(290, 290, 100, 60)), 0);
}

TEST_F(Gestures, SecondFingerAfterGraceKeepsTheStroke)
{
    now() = 5000;
    touch(board, {pressed(0, A)});
    now() += 50;
    touch(board, {moved(0, A + QPointF(10, 0))});
    const size_t before = page->strokes[0]->segments.back()->points.size();
    now() = 5101;
    // The first finger's movement in the same event still reaches the stroke.
    touch(board, {moved(0, A + QPointF(20, 0)), pressed(1, QPointF(1410, 500))});
    ASSERT_EQ(page->strokes.size(), 1u);
    EXPECT_EQ(touchModel, PEN);
    EXPECT_EQ(page->strokes[0]->segments.back()->points.size(), before + 1);
    // While both stay down the stroke does not grow and the view stays.
    now() += 20;
    touch(board, {moved(0, A + QPointF(60, 0)), moved(1, QPointF(1500, 500))});
    EXPECT_EQ(page->strokes[0]->segments.back()->points.size(), before + 1);
    EXPECT_FLOAT_EQ(xLeft, 0);
    EXPECT_FLOAT_EQ(xRate, 1);
    // Lifting one finger ends the gesture; the kept stroke shows on the layer.
    touch(board, {still(0, A + QPointF(60, 0)), released(1, QPointF(1500, 500))});
    EXPECT_EQ(touchModel, IDEL);
    EXPECT_GT(inkPixels(QRect(790, 480, 40, 40)), 10);
    EXPECT_EQ(runningSpringBacks(), 0);
}

TEST_F(Gestures, TwoFingersExactlyATwelfthApartPan)
{
    touch(board, {pressed(0, QPointF(500, 400)), pressed(1, QPointF(660, 400))});  // 160 = 1920 / 12
    EXPECT_EQ(touchModel, DRAG);
    EXPECT_EQ(zoomCenter1, QPointF(580, 400));
    touch(board, {moved(0, QPointF(600, 450)), moved(1, QPointF(760, 450))});
    EXPECT_FLOAT_EQ(xRate, 1);
    EXPECT_FLOAT_EQ(xLeft, -100);
    EXPECT_FLOAT_EQ(xTop, -50);
    touch(board, {released(0, QPointF(600, 450)), released(1, QPointF(760, 450))});

    resetBoardState();
    board->newPage(QString(), true);
    touch(board, {pressed(0, QPointF(500, 400)), pressed(1, QPointF(660.5, 400))});
    EXPECT_EQ(touchModel, SCALE);
}

TEST_F(Gestures, ThreeFingersDuringAZoomPanFromWhereTheViewIs)
{
    touch(board, {pressed(0, QPointF(100, 500)), pressed(1, QPointF(900, 500))});
    ASSERT_EQ(touchModel, SCALE);
    EXPECT_EQ(zoomCenter1, QPointF(500, 500));
    touch(board, {moved(0, QPointF(50, 500)), moved(1, QPointF(950, 500))});
    EXPECT_FLOAT_EQ(xRate, 1.125f);
    EXPECT_NEAR(xLeft, 500 - 500 / 1.125, 1e-3);
    // A third finger: the zoom becomes a pan anchored at the page point
    // under the mean of the three, (500, 600) on screen.
    touch(board, {still(0, QPointF(50, 500)), still(1, QPointF(950, 500)), pressed(2, QPointF(500, 800))});
    EXPECT_EQ(touchModel, DRAG);
    EXPECT_NEAR(zoomCenter1.x(), 500, 1e-3);
    EXPECT_NEAR(zoomCenter1.y(), 500 + 100 / 1.125, 1e-3);
    touch(board, {moved(0, QPointF(150, 500)), moved(1, QPointF(1050, 500)), moved(2, QPointF(600, 800))});
    EXPECT_FLOAT_EQ(xRate, 1.125f);
    EXPECT_NEAR(xLeft, 500 - 600 / 1.125, 1e-3);  // the mean of the three is (600, 600)
    EXPECT_NEAR(xTop, 500 - 500 / 1.125, 1e-3);   // no vertical movement, no vertical jump
    // Lifting one of three changes nothing.
    touch(board, {still(0, QPointF(150, 500)), still(1, QPointF(1050, 500)), released(2, QPointF(600, 800))});
    EXPECT_EQ(touchModel, DRAG);
    EXPECT_EQ(runningSpringBacks(), 0);
}

TEST_F(Gestures, FourFingersEraseTheirBoundingBox)
{
    fingerStroke(QPointF(100, 200), QPointF(600, 200));
    ASSERT_GT(inkPixels(QRect(150, 190, 100, 20)), 50);
    const std::vector<QPointF> at = {{150, 150}, {300, 150}, {150, 260}, {300, 260}};
    touch(board, {pressed(0, at[0]), pressed(1, at[1]), pressed(2, at[2]), pressed(3, at[3])});
    EXPECT_EQ(touchModel, ERASER);
    ASSERT_EQ(page->strokes.size(), 2u);
    Stroke* eraser = page->strokes.back();
    EXPECT_EQ(eraser->type, TT_E_RECT);
    StrokePoint* r = eraser->segments[0]->points[0];
    EXPECT_EQ(*r->point, QPointF(150, 150));
    EXPECT_EQ(*r->point2, QPointF(300, 260));
    ASSERT_NE(eraserRect, nullptr);
    EXPECT_EQ(*eraserRect, QRectF(QPointF(150, 150), QPointF(300, 260)));
    // What the box covers is gone from the screen at once.
    EXPECT_EQ(inkPixels(QRect(160, 190, 130, 20)), 0);
    EXPECT_GT(inkPixels(QRect(350, 190, 100, 20)), 50);

    // Moving the fingers adds the new box; a fifth finger keeps erasing.
    touch(board, {moved(0, {350, 150}), moved(1, {500, 150}), moved(2, {350, 260}), moved(3, {500, 260})});
    EXPECT_EQ(eraser->segments[0]->points.size(), 2u);
    EXPECT_EQ(inkPixels(QRect(360, 190, 130, 20)), 0);
    EXPECT_EQ(*eraserRect, QRectF(QPointF(350, 150), QPointF(500, 260)));
    touch(board, {still(0, {350, 150}), still(1, {500, 150}), still(2, {350, 260}), still(3, {500, 260}),
                  pressed(4, {420, 300})});
    EXPECT_EQ(touchModel, ERASER);
    touch(board, {still(0, {350, 150}), still(1, {500, 150}), still(2, {350, 260}), still(3, {500, 260}),
                  released(4, {420, 300})});
    EXPECT_EQ(touchModel, ERASER);  // one of five lifted
    EXPECT_NE(eraserRect, nullptr);
    touch(board, {still(0, {350, 150}), still(1, {500, 150}), still(2, {350, 260}), released(3, {500, 260})});
    EXPECT_EQ(touchModel, IDEL);  // one of four lifted
    EXPECT_EQ(eraserRect, nullptr);
    // Erasing never widens the ink box.
    page->updateMaxPoint();
    EXPECT_EQ(page->minPoint.y(), 200);
}

TEST_F(Gestures, FingerLeftFromAGestureDoesNotErase)
{
    fingerStroke(A, B);
    ASSERT_EQ(page->strokes.size(), 1u);
    Stroke* pen = page->strokes[0];
    const size_t n = pen->segments.back()->points.size();
    eraserStatus = ES_ERASER_RECT;
    touch(board, {pressed(0, QPointF(500, 400)), pressed(1, QPointF(560, 400))});
    touch(board, {still(0, QPointF(500, 400)), released(1, QPointF(560, 400))});
    ASSERT_EQ(touchModel, IDEL);
    touch(board, {moved(0, QPointF(850, 500))});
    touch(board, {moved(0, QPointF(860, 500))});
    EXPECT_EQ(page->strokes.size(), 1u);
    EXPECT_EQ(pen->segments.back()->points.size(), n);
    EXPECT_GT(inkPixels(QRect(790, 480, 130, 40)), 50);
    touch(board, {released(0, QPointF(860, 500))});
    // A fresh finger erases as usual.
    touch(board, {pressed(0, QPointF(850, 500))});
    touch(board, {moved(0, QPointF(860, 500))});
    ASSERT_EQ(page->strokes.size(), 2u);
    EXPECT_EQ(page->strokes[1]->type, TT_E_RECT);
    EXPECT_EQ(page->strokes[1]->segments[0]->points.size(), 2u);
    touch(board, {released(0, QPointF(860, 500))});
}

TEST_F(Gestures, CancelledTouchEndsTheStrokeCleanly)
{
    touch(board, {pressed(0, A)});
    for (int i = 1; i <= 5; ++i) {
        now() += 10;
        touch(board, {moved(0, A + QPointF(10 * i, 0))});
    }
    touch(board, {}, QEvent::TouchCancel);
    EXPECT_EQ(touchModel, IDEL);
    ASSERT_EQ(page->strokes.size(), 1u);
    EXPECT_GT(inkPixels(QRect(790, 480, 70, 40)), 10);
    // Later single-point moves do not reach the old stroke.
    const size_t n = page->strokes[0]->segments.back()->points.size();
    touch(board, {moved(0, A + QPointF(200, 0))});
    EXPECT_EQ(page->strokes[0]->segments.back()->points.size(), n);

    // A cancelled pan ends with the view inside its limits and rendered.
    touch(board, {pressed(0, QPointF(500, 400)), pressed(1, QPointF(560, 400))});
    touch(board, {moved(0, QPointF(560, 400)), moved(1, QPointF(620, 400))});
    ASSERT_EQ(touchModel, DRAG);
    touch(board, {}, QEvent::TouchCancel);
    EXPECT_EQ(touchModel, IDEL);
    EXPECT_FLOAT_EQ(winLeft, -60);
}

TEST_F(Gestures, ZoomPastTheLimitIsDampedAndSpringsBackAboutTheCentre)
{
    touch(board, {pressed(0, QPointF(860, 540)), pressed(1, QPointF(1060, 540))});
    ASSERT_EQ(touchModel, SCALE);
    touch(board, {moved(0, QPointF(240, 540)), moved(1, QPointF(1680, 540))});  // 7.2 times as far apart
    EXPECT_NEAR(xRate, 6.0, 1e-4);  // sqrt(5.0 * 7.2)
    EXPECT_NEAR(xLeft, 960 - 960 / 6.0, 1e-2);
    EXPECT_NEAR(xTop, 540 - 540 / 6.0, 1e-2);
    const float centreX = xLeft + 960 / xRate, centreY = xTop + 540 / xRate;
    touch(board, {released(0, QPointF(240, 540)), released(1, QPointF(1680, 540))});
    EXPECT_EQ(touchModel, IDEL);
    EXPECT_EQ(runningSpringBacks(), 1);
    ASSERT_TRUE(waitForSpringBacks());
    EXPECT_FLOAT_EQ(xRate, 5);
    EXPECT_NEAR(xLeft + 960 / 5.0, centreX, 1e-2);
    EXPECT_NEAR(xTop + 540 / 5.0, centreY, 1e-2);
    EXPECT_FLOAT_EQ(winRate, xRate);
    EXPECT_FLOAT_EQ(winLeft, xLeft);
    EXPECT_FLOAT_EQ(winTop, xTop);
}

TEST_F(Gestures, ZoomBelowTheLimitIsDampedToo)
{
    touch(board, {pressed(0, QPointF(460, 540)), pressed(1, QPointF(1460, 540))});
    touch(board, {moved(0, QPointF(950, 540)), moved(1, QPointF(970, 540))});  // 0.02 unlimited
    EXPECT_NEAR(xRate, std::sqrt(0.2 * 0.02), 1e-5);
    touch(board, {released(0, QPointF(950, 540)), released(1, QPointF(970, 540))});
    ASSERT_TRUE(waitForSpringBacks());
    EXPECT_FLOAT_EQ(xRate, 0.2f);
}

TEST_F(Gestures, PanPastTheEdgeIsDampedAndSpringsBack)
{
    touch(board, {pressed(0, QPointF(1000, 500)), pressed(1, QPointF(1100, 500))});
    ASSERT_EQ(touchModel, DRAG);
    // Fingers 16510 px to the right of the anchor: 100 page units past -15360.
    touch(board, {moved(0, QPointF(16460, 500)), moved(1, QPointF(16560, 500))});
    EXPECT_NEAR(xLeft, -15360 - 39.81, 0.01);
    EXPECT_NEAR(xLeft, -15360 - std::pow(100.0, 0.8), 1e-2);
    EXPECT_FLOAT_EQ(xTop, 0);
    touch(board, {released(0, QPointF(16460, 500)), released(1, QPointF(16560, 500))});
    ASSERT_TRUE(waitForSpringBacks());
    EXPECT_FLOAT_EQ(xLeft, -15360);
    EXPECT_FLOAT_EQ(winLeft, -15360);
    EXPECT_FLOAT_EQ(xRate, 1);
}

TEST_F(Gestures, ElasticLimitsOfTheOtherEdges)
{
    xRate = 2;
    xLeft = 19200 - 960 + 100;  // 100 past the right edge at rate 2
    xTop = -8640 - 32;
    board->dragLimit();
    EXPECT_NEAR(xLeft, 19200 - 960 + std::pow(100.0, 0.8), 1e-2);
    EXPECT_NEAR(xTop, -8640 - 16, 1e-3);  // 32^0.8
    xTop = 10800 - 540 + 32;
    board->dragLimit();
    EXPECT_NEAR(xTop, 10800 - 540 + 16, 1e-3);
    xRate = 1;
    xLeft = 0;
    xTop = 0;
    winRate = 1;
    winLeft = 0;
    winTop = 0;
    EXPECT_FALSE(board->dragReset());  // inside: nothing to do
}

TEST_F(Gestures, ImagePageLimits)
{
    QTemporaryDir dir;
    QImage img(3840, 2160, QImage::Format_RGB32);
    img.fill(qRgb(10, 20, 30));
    ASSERT_TRUE(img.save(dir.filePath("big.png")));
    board->newPage(dir.filePath("big.png"), true);
    ASSERT_NE(bkgBmp, nullptr);
    ASSERT_FLOAT_EQ(xRate, 0.5);
    // 100 page units past the image's left edge.
    xLeft = -100;
    board->dragLimit();
    EXPECT_NEAR(xLeft, -std::pow(100.0, 0.8), 1e-2);
    // At rate 0.4 the image is narrower than the view: held in the middle.
    xRate = 0.4f;
    xLeft = (3840 - 1920 / 0.4f) / 2 + 32;
    board->dragLimit();
    EXPECT_NEAR(xLeft, (3840 - 1920 / 0.4) / 2 + 16, 1e-2);
    // The spring-back goes to the fitting rate, centred.
    xTop = 0;
    EXPECT_TRUE(board->dragReset());
    ASSERT_TRUE(waitForSpringBacks());
    EXPECT_FLOAT_EQ(xRate, 0.5);
    EXPECT_FLOAT_EQ(xLeft, 0);
    EXPECT_FLOAT_EQ(xTop, 0);
}

TEST_F(Gestures, RightButtonPanInsideTheLimitsReRenders)
{
    markStrokeLayer();
    mouse(board, QEvent::MouseButtonPress, QPointF(500, 500), Qt::RightButton, Qt::RightButton);
    mouse(board, QEvent::MouseMove, QPointF(550, 520), Qt::NoButton, Qt::RightButton);
    mouse(board, QEvent::MouseMove, QPointF(600, 550), Qt::NoButton, Qt::RightButton);
    EXPECT_FLOAT_EQ(xLeft, -100);
    EXPECT_FLOAT_EQ(xTop, -50);
    EXPECT_FLOAT_EQ(winLeft, 0);  // nothing rendered during the pan
    EXPECT_TRUE(page->strokes.empty());
    mouse(board, QEvent::MouseButtonRelease, QPointF(600, 550), Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(runningSpringBacks(), 0);
    EXPECT_FALSE(strokeLayerMarked());
    EXPECT_FLOAT_EQ(winLeft, -100);
    EXPECT_FLOAT_EQ(winTop, -50);
}

TEST_F(Gestures, RightButtonPanOutsideTheLimitsSpringsBack)
{
    mouse(board, QEvent::MouseButtonPress, QPointF(100, 500), Qt::RightButton, Qt::RightButton);
    mouse(board, QEvent::MouseMove, QPointF(100, 9500), Qt::NoButton, Qt::RightButton);  // 9000 up past -8640
    EXPECT_NEAR(xTop, -8640 - std::pow(360.0, 0.8), 1e-2);
    mouse(board, QEvent::MouseButtonRelease, QPointF(100, 9500), Qt::RightButton, Qt::NoButton);
    EXPECT_EQ(runningSpringBacks(), 1);
    ASSERT_TRUE(waitForSpringBacks());
    EXPECT_FLOAT_EQ(xTop, -8640);
    EXPECT_FLOAT_EQ(winTop, -8640);
    EXPECT_FLOAT_EQ(xLeft, 0);
}

TEST_F(Gestures, LeftButtonDraws)
{
    mouse(board, QEvent::MouseButtonPress, A, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(touchModel, PEN);
    for (int i = 1; i <= 10; ++i) {
        now() += 10;
        mouse(board, QEvent::MouseMove, A + QPointF(10 * i, 5 * i), Qt::NoButton, Qt::LeftButton);
    }
    mouse(board, QEvent::MouseButtonRelease, B + QPointF(0, 50), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(touchModel, IDEL);
    ASSERT_EQ(page->strokes.size(), 1u);
    const size_t n = page->strokes[0]->segments.back()->points.size();
    EXPECT_GE(n, 10u);
    EXPECT_GT(inkPixels(QRect(790, 480, 130, 90)), 50);
    // A stray release adds nothing to the finished stroke.
    mouse(board, QEvent::MouseButtonRelease, QPointF(50, 50), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(page->strokes[0]->segments.back()->points.size(), n);
}

}  // namespace

namespace {

// 11520 x 540 in a 1920 x 1080 view: the zoom runs from 1920 / 11520 (the
// whole width) to 11520 / 1920 = 6, above the board's own 5.
TEST_F(Gestures, ImagePageRateLimitsAndSpringBackTargets)
{
    QTemporaryDir dir;
    ASSERT_TRUE(newImagePage(board, dir, 11520, 540, qRgb(10, 20, 30)));
    ASSERT_NEAR(xRate, 1920.0 / 11520, 1e-6);
    EXPECT_NEAR(xTop, (540 - 1080 * 6.0) / 2, 1e-2);  // centred: the image is lower than the view

    // Zoomed in past 6: damped about 6, back to 6 and into the image.
    xRate = 1;
    xLeft = 0;
    xTop = 0;
    board->drawWin();
    touch(board, {pressed(0, QPointF(860, 540)), pressed(1, QPointF(1060, 540))});
    ASSERT_EQ(touchModel, SCALE);
    touch(board, {moved(0, QPointF(160, 540)), moved(1, QPointF(1760, 540))});  // 8 unlimited
    EXPECT_NEAR(xRate, std::sqrt(6.0 * 8.0), 1e-4);
    touch(board, {released(0, QPointF(160, 540)), released(1, QPointF(1760, 540))});
    ASSERT_TRUE(waitForSpringBacks());
    EXPECT_FLOAT_EQ(xRate, 6);
    EXPECT_GE(xLeft, 0);
    EXPECT_GE(xTop, 0);
    EXPECT_LE(xTop, 540 - 1080 / 6.0);

    // Beyond the right and bottom edges at rate 6: held at the edges.
    xLeft = 11300;
    xTop = 400;
    ASSERT_TRUE(board->dragReset());
    EXPECT_FLOAT_EQ(xRate, 6);
    EXPECT_NEAR(xLeft, 11520 - 1920 / 6.0, 1e-2);
    EXPECT_NEAR(xTop, 540 - 1080 / 6.0, 1e-2);
    ASSERT_TRUE(waitForSpringBacks());

    // Zoomed out below the whole width: the whole width, centred vertically.
    xRate = 0.1f;
    xLeft = 5;
    xTop = 0;
    ASSERT_TRUE(board->dragReset());
    EXPECT_NEAR(xRate, 1920.0 / 11520, 1e-6);
    EXPECT_NEAR(xLeft, 0, 1e-2);
    EXPECT_NEAR(xTop, (540 - 1080 * 6.0) / 2, 1e-1);
}

}  // namespace
