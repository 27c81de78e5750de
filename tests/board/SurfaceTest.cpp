// The drawing surface as a whole: pen input into strokes and layers, the
// erasers, composition of the layers on screen, pages and page export.
#include "BoardTestUtil.h"

#include <QTemporaryDir>
#include <cmath>
#include <stdexcept>

using namespace btest;

namespace {

const QRgb GREEN = BKG_COLORS[BT_GREEN];

class SurfaceTest : public BoardTest {
protected:
    // A finished hard-pen stroke drawn through view points (rate 1 view).
    void hardLine(BoardWidget* w, QPointF a, QPointF b, long t0 = 1000)
    {
        penModelIdx = 1;
        touchModel = PEN;
        w->penDown(a.x(), a.y(), t0);
        for (int i = 1; i <= 10; ++i) {
            const QPointF p = a + (b - a) * (i / 10.0);
            w->penMove(p.x(), p.y(), t0 + 10 * i);
        }
        w->penUp(b.x(), b.y(), t0 + 110);
        w->finishPenStroke();
        touchModel = IDEL;
    }

    QString writeImage(int w, int h, QRgb colour)
    {
        QImage img(w, h, QImage::Format_ARGB32);
        img.fill(colour);
        const QString path = tmp.filePath(QString("bkg_%1x%2.png").arg(w).arg(h));
        EXPECT_TRUE(img.save(path));
        return path;
    }

    // Ink within two pixels of (x, y).
    static bool inkAround(const QImage& img, int x, int y)
    {
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                if (alphaAt(img, x + dx, y + dy) > 0)
                    return true;
        return false;
    }

    QTemporaryDir tmp;
};

}  // namespace

// ---- pen input -----------------------------------------------------------

TEST_F(SurfaceTest, PenDownStartsAStrokeOfTheCurrentTool)
{
    makeBoard(400, 300);
    xRate = 2;
    xLeft = 100;
    xTop = -50;
    penColorIdx = 3;
    board->penDown(40, 60, 5);
    ASSERT_EQ(page->strokes.size(), 1u);
    Stroke* st = page->strokes[0];
    EXPECT_EQ(st->type, TT_P_SOFT);
    EXPECT_EQ(st->width, 8);
    EXPECT_EQ(st->colorIdx, 3);
    EXPECT_EQ(st->startTime, 5);
    // View (40, 60) is page (40 / 2 + 100, 60 / 2 - 50).
    EXPECT_FLOAT_EQ(st->segments[0]->points[0]->GetX(), 120);
    EXPECT_FLOAT_EQ(st->segments[0]->points[0]->GetY(), -20);
    EXPECT_EQ(page->minPoint, QPointF(120, -20));

    penModelIdx = 1;
    board->setPaintThickness(0);
    board->penDown(10, 10, 6);
    EXPECT_EQ(page->strokes.back()->type, TT_P_HARD);
    EXPECT_EQ(page->strokes.back()->width, 2);
    board->setPaintThickness(7);
    EXPECT_EQ(penSizeIdx, 2);

    // Pen moves only grow the stroke while the pen gesture runs.
    touchModel = IDEL;
    board->penMove(30, 30, 7);
    EXPECT_EQ(page->strokes.back()->segments[0]->points.size(), 1u);
    touchModel = PEN;
    board->penMove(30, 30, 8);
    EXPECT_EQ(page->strokes.back()->segments[0]->points.size(), 2u);
    EXPECT_EQ(page->maxPoint, QPointF(120, 0));  // (115, -35) lies inside the box
    EXPECT_EQ(page->minPoint, QPointF(105, -45));
}

TEST_F(SurfaceTest, SoftPenSplitsAndFinishedStrokesReachTheStrokeLayer)
{
    BoardWidget* w = makeBoard(400, 300);
    penModelIdx = 0;
    touchModel = PEN;
    // An earlier stroke ended thin; a new stroke starts its width afresh.
    priorWidth = 1;
    w->penDown(50, 50, 0);
    // A zig-zag of legs heading down-right (wide) and up-right (narrow): the
    // soft pen splits it at its corners.
    long t = 0;
    const QPointF corners[] = {QPointF(50, 50), QPointF(130, 130), QPointF(210, 50), QPointF(290, 130),
                               QPointF(370, 50)};
    for (int c = 1; c < 5; ++c)
        for (int i = 1; i <= 20; ++i) {
            const QPointF p = corners[c - 1] + (corners[c] - corners[c - 1]) * (i / 20.0);
            w->penMove(p.x(), p.y(), t += 8);
            composed(w);  // a repaint after every move, as on screen
        }
    Stroke* st = page->strokes.back();
    ASSERT_EQ(st->segments.size(), 4u);
    EXPECT_TRUE(st->segments[3]->points[0]->equals(st->segments[2]->points.back()));
    // The completed segments are already on the layer; the last one is not.
    const QImage before = toImage(*strokeBmp);
    EXPECT_TRUE(inkAround(before, 90, 90));
    EXPECT_TRUE(inkAround(before, 250, 90));
    EXPECT_FALSE(inkAround(before, 330, 90));  // on the last leg
    // On screen the running segment is drawn as live feedback.
    const QImage shown = composed(w);
    EXPECT_NE(shown.pixel(330, 90), GREEN);
    // Repaints leave the running values alone.
    const float width = priorWidth;
    const int idx = lastIdx;
    composed(w);
    EXPECT_EQ(priorWidth, width);
    EXPECT_EQ(lastIdx, idx);

    w->penUp(370, 50, t + 8);
    w->finishPenStroke();
    touchModel = IDEL;
    const QImage after = toImage(*strokeBmp);
    EXPECT_TRUE(inkAround(after, 330, 90));
    // What the layer got segment by segment is exactly what a full
    // re-render gives (left of the last leg) ...
    w->drawWin();
    const QImage redrawn = toImage(*strokeBmp);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 270; ++x)
            ASSERT_EQ(before.pixel(x, y), redrawn.pixel(x, y)) << x << "," << y;
    // ... and in coverage for the whole stroke.
    int differ = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x)
            differ += (alphaAt(after, x, y) > 0) != (alphaAt(redrawn, x, y) > 0);
    EXPECT_EQ(differ, 0);
}

TEST_F(SurfaceTest, ResizeKeepsTheViewAndRendersAtTheNewSize)
{
    BoardWidget* w = makeBoard(400, 300);
    hardLine(w, QPointF(20, 20), QPointF(380, 20));
    xRate = 2;
    xLeft = 10;
    xTop = 5;
    resizeBoard(w, 300, 200);
    EXPECT_EQ(VIEW_WIDTH, 300);
    EXPECT_EQ(VIEW_HEIGHT, 200);
    EXPECT_EQ(strokeBmp->size(), QSize(300, 200));
    EXPECT_EQ(winBmp->size(), QSize(300, 200));
    EXPECT_EQ(xRate, 2.0f);
    EXPECT_EQ(xLeft, 10.0f);
    EXPECT_EQ(winRate, 2.0f);
    // Page (20, 20) now shows at view (20, 30).
    EXPECT_GT(alphaAt(toImage(*strokeBmp), 40, 30), 0);
}

// ---- erasers -------------------------------------------------------------

TEST_F(SurfaceTest, RectangleEraserClearsToTransparencyAndShowsTheBackground)
{
    BoardWidget* w = makeBoard(400, 300);
    gridTypeIdx = 0;
    w->drawWin();
    for (int y = 100; y <= 200; y += 6)
        hardLine(w, QPointF(40, y), QPointF(360, y));
    EXPECT_GT(alphaAt(toImage(*strokeBmp), 200, 148), 0);

    eraserStatus = ES_ERASER_RECT;
    const size_t before = page->strokes.size();
    w->penDown(200, 150, 5000);
    ASSERT_EQ(page->strokes.size(), before + 1);
    EXPECT_EQ(page->strokes.back()->type, TT_E_RECT);
    ASSERT_NE(eraserRect, nullptr);
    EXPECT_EQ(*eraserRect, QRectF(150, 100, 100, 100));
    QImage layer = toImage(*strokeBmp);
    for (int y = 101; y < 200; y += 7)
        for (int x = 151; x < 250; x += 7)
            ASSERT_EQ(layer.pixel(x, y), 0u) << x << "," << y;
    EXPECT_GT(alphaAt(layer, 145, 148), 0);
    EXPECT_GT(alphaAt(layer, 255, 148), 0);

    // Moving erases on; the eraser's outline is drawn on screen.
    w->penMove(300, 150, 5010);
    EXPECT_EQ(toImage(*strokeBmp).pixel(290, 148), 0u);
    QImage shown = composed(w);
    EXPECT_EQ(shown.pixel(280, 148), GREEN);       // the background shows through
    EXPECT_EQ(shown.pixel(250, 130), 0xFF777777u);  // outline at x = 250
    // Pen up adds nothing to a rectangle eraser.
    const size_t samples = page->strokes.back()->segments[0]->points.size();
    w->penUp(320, 150, 5020);
    EXPECT_EQ(page->strokes.back()->segments[0]->points.size(), samples);
    // A full re-render erases exactly the same.
    const QImage live = toImage(*strokeBmp);
    w->drawWin();
    EXPECT_EQ(toImage(*strokeBmp), live);
}

TEST_F(SurfaceTest, RectangleEraserFollowsTheZoomAndNeedsStrokes)
{
    BoardWidget* w = makeBoard(400, 300);
    eraserStatus = ES_ERASER_RECT;
    w->penDown(100, 100, 1);
    EXPECT_TRUE(page->strokes.empty());  // nothing to erase: no stroke
    w->penMove(110, 100, 2);
    w->penUp(120, 100, 3);
    EXPECT_TRUE(page->strokes.empty());

    eraserStatus = ES_PEN;
    for (int y = 20; y <= 280; y += 5)
        hardLine(w, QPointF(10, y), QPointF(390, y));
    xRate = 2;
    w->drawWin();
    eraserStatus = ES_ERASER_RECT;
    w->penDown(200, 150, 10);
    // 50 page units are 100 view pixels at rate 2.
    EXPECT_EQ(*eraserRect, QRectF(100, 50, 200, 200));
    const QImage layer = toImage(*strokeBmp);
    EXPECT_EQ(layer.pixel(110, 60), 0u);
    EXPECT_EQ(layer.pixel(290, 240), 0u);
    const QImage live = layer;
    w->drawWin();
    EXPECT_EQ(toImage(*strokeBmp), live);
}

TEST_F(SurfaceTest, RectangleEraserOutsideTheViewClearsNothing)
{
    BoardWidget* w = makeBoard(400, 300);
    QImage img(400, 300, QImage::Format_ARGB32_Premultiplied);
    img.fill(0xFF123456);
    const QImage before = img;
    StrokePoint left(0, -300, 50, -100, 250), below(0, 50, 400, 300, 600), inside(0, 390, 290, 500, 500);
    QPainter p(&img);
    w->drawRectEraser(&p, &left, 0, 0, 1);
    w->drawRectEraser(&p, &below, 0, 0, 1);
    p.end();
    EXPECT_EQ(img, before);
    // A rectangle reaching in from outside is clamped to the view.
    QPainter p2(&img);
    w->drawRectEraser(&p2, &inside, 0, 0, 1);
    p2.end();
    EXPECT_EQ(img.pixel(395, 295), 0u);
    EXPECT_EQ(img.pixel(385, 295), before.pixel(385, 295));
}

TEST_F(SurfaceTest, TrapezoidEraserClearsTheEnclosedArea)
{
    BoardWidget* w = makeBoard(400, 300);
    auto filled = [] {
        QImage img(400, 300, QImage::Format_ARGB32_Premultiplied);
        img.fill(0xFF00FF00);
        return img;
    };
    // Two distinct points (repeats do not count) clear nothing.
    Stroke two(0, QPointF(50, 50));
    two.addPoint(1, QPointF(200, 50));
    two.addPoint(2, QPointF(200, 50.001));
    QImage img = filled();
    QPainter p(&img);
    w->drawTrapEraser(&p, two.segments[0], false, 0, 0, 1);
    p.end();
    EXPECT_EQ(img, filled());
    // All points clamped onto one view corner clear nothing either.
    Stroke far(0, QPointF(-50, -50));
    far.addPoint(1, QPointF(-80, -10));
    far.addPoint(2, QPointF(-10, -90));
    QPainter p2(&img);
    w->drawTrapEraser(&p2, far.segments[0], false, 0, 0, 1);
    p2.end();
    EXPECT_EQ(img, filled());

    // A triangle: cleared inside, kept outside.
    Stroke tri(0, QPointF(100, 50));
    tri.addPoint(1, QPointF(300, 50));
    tri.addPoint(2, QPointF(200, 250));
    QPainter p3(&img);
    w->drawTrapEraser(&p3, tri.segments[0], false, 0, 0, 1);
    p3.end();
    EXPECT_EQ(img.pixel(200, 100), 0u);
    EXPECT_EQ(img.pixel(200, 60), 0u);
    EXPECT_EQ(img.pixel(120, 200), 0xFF00FF00u);
    EXPECT_EQ(img.pixel(350, 60), 0xFF00FF00u);
    // While it is being drawn only its open outline shows.
    QImage track = filled();
    QPainter p4(&track);
    w->drawTrapEraser(&p4, tri.segments[0], true, 0, 0, 1);
    p4.end();
    EXPECT_EQ(track.pixel(200, 100), 0xFF00FF00u);
    EXPECT_NE(track.pixel(200, 50), 0xFF00FF00u);
}

TEST_F(SurfaceTest, ErasersRemoveEarlierInkOnlyAndReRenderAtPenUp)
{
    BoardWidget* w = makeBoard(400, 300);
    hardLine(w, QPointF(20, 100), QPointF(380, 100));
    const QPointF inkMin = page->minPoint, inkMax = page->maxPoint;
    eraserStatus = ES_ERASER_TRAP;
    touchModel = PEN;
    w->penDown(150, 50, 100);
    w->penMove(250, 50, 110);
    w->penMove(250, 150, 120);
    // The outline is shown while the eraser runs; nothing is cleared yet.
    EXPECT_GT(alphaAt(toImage(*strokeBmp), 230, 100), 0);
    QImage shown = composed(w);
    EXPECT_EQ(shown.pixel(250, 120), 0xFF777777u);
    w->penUp(150, 150, 130);
    touchModel = IDEL;
    EXPECT_EQ(page->minPoint, inkMin);  // erasing leaves the ink box alone
    EXPECT_EQ(page->maxPoint, inkMax);
    // Pen up re-renders: the ink inside the outline is gone.
    EXPECT_EQ(toImage(*strokeBmp).pixel(230, 100), 0u);
    EXPECT_GT(alphaAt(toImage(*strokeBmp), 100, 100), 0);
    // A later stroke over the erased area stays.
    eraserStatus = ES_PEN;
    hardLine(w, QPointF(200, 20), QPointF(200, 280), 2000);
    w->drawWin();
    EXPECT_GT(alphaAt(toImage(*strokeBmp), 200, 100), 0);
    EXPECT_EQ(toImage(*strokeBmp).pixel(230, 100), 0u);
}

// ---- composition ---------------------------------------------------------

TEST_F(SurfaceTest, EqualTransformsShowTheLayersAtTheOrigin)
{
    BoardWidget* w = makeBoard(400, 300);
    hardLine(w, QPointF(20, 30), QPointF(380, 30));
    QImage expect(400, 300, QImage::Format_ARGB32_Premultiplied);
    {
        QPainter p(&expect);
        p.drawPixmap(0, 0, *winBmp);
        p.drawPixmap(0, 0, *strokeBmp);
    }
    EXPECT_EQ(composed(w), expect.convertToFormat(QImage::Format_ARGB32));
    // Within 0.01 the transforms count as equal.
    xLeft = 0.009f;
    xRate = 1.005f;
    EXPECT_EQ(composed(w), expect.convertToFormat(QImage::Format_ARGB32));
    // The paint event shows the same.
    xLeft = 0;
    xRate = 1;
    EXPECT_EQ(w->grab().toImage().convertToFormat(QImage::Format_ARGB32),
              expect.convertToFormat(QImage::Format_ARGB32));
}

TEST_F(SurfaceTest, DraggingShowsAStripOfPlainBackground)
{
    BoardWidget* w = makeBoard(400, 300);
    hardLine(w, QPointF(20, 150), QPointF(380, 150));
    const QImage still = composed(w);
    xLeft = -100;  // the view moved 100 pixels to the right
    const QImage moved = composed(w);
    for (int y = 0; y < 300; y += 3)
        for (int x = 0; x < 100; x += 3)
            ASSERT_EQ(moved.pixel(x, y), GREEN) << x << "," << y;
    for (int y = 0; y < 300; y += 5)
        for (int x = 100; x < 400; x += 5)
            ASSERT_EQ(moved.pixel(x, y), still.pixel(x - 100, y)) << x << "," << y;
    // The other way, up and to the left.
    xLeft = 100;
    xTop = 50;
    const QImage back = composed(w);
    EXPECT_EQ(back.pixel(399, 200), GREEN);
    EXPECT_EQ(back.pixel(200, 299), GREEN);
    EXPECT_EQ(back.pixel(50, 100), still.pixel(150, 150));
}

TEST_F(SurfaceTest, ZoomingOutShowsTheLayersAtHalfSize)
{
    BoardWidget* w = makeBoard(400, 300);
    hardLine(w, QPointF(20, 100), QPointF(380, 100));
    const QImage still = composed(w);
    xRate = 0.5f;
    const QImage half = composed(w);
    // The layers fill the top-left quarter; the rest is plain background.
    EXPECT_EQ(half.pixel(300, 225), GREEN);
    EXPECT_EQ(half.pixel(250, 50), GREEN);
    EXPECT_EQ(half.pixel(50, 200), GREEN);
    EXPECT_EQ(rgbOnly(half.pixel(100, 50)), rgbOnly(COLORS[penColorIdx]));
    EXPECT_EQ(half.pixel(100, 60), still.pixel(200, 120));
}

TEST_F(SurfaceTest, ImagePageShowsTheDarkFillWhileDragging)
{
    BoardWidget* w = makeBoard(400, 300);
    const QString file = writeImage(800, 450, 0xFFC03020);
    w->newPage(file, true);
    ASSERT_NE(bkgBmp, nullptr);
    EXPECT_FLOAT_EQ(xRate, 0.5f);
    EXPECT_FLOAT_EQ(xLeft, 0);
    EXPECT_FLOAT_EQ(xTop, -75);
    EXPECT_EQ(penColorIdx, 0);
    QImage shown = composed(w);
    // Black above and below the fitted image, the image in between.
    EXPECT_EQ(shown.pixel(200, 10), 0xFF000000u);
    EXPECT_EQ(shown.pixel(200, 290), 0xFF000000u);
    EXPECT_EQ(shown.pixel(200, 150), 0xFFC03020u);
    xLeft = -200;  // 100 view pixels at rate 0.5
    shown = composed(w);
    EXPECT_EQ(shown.pixel(50, 150), BKG_COLORS[1]);
    EXPECT_EQ(shown.pixel(150, 150), 0xFFC03020u);
}

// ---- pages ---------------------------------------------------------------

TEST_F(SurfaceTest, NewPageReusesAnEmptyLastPage)
{
    BoardWidget* w = makeBoard(400, 300);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pageIdx, 0);
    EXPECT_TRUE(pageable);
    EXPECT_EQ(penColorIdx, 5);  // white on green
    w->newPage(QString(), false);
    EXPECT_EQ(pages.size(), 1u);
    EXPECT_FALSE(pageable);

    hardLine(w, QPointF(10, 10), QPointF(100, 10));
    bkgType = BT_WHITE;
    gridTypeIdx = 2;
    gridSizeIdx = 0;
    w->newPage(QString(), true);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pageIdx, 1);
    EXPECT_EQ(page, pages[1]);
    EXPECT_EQ(page->bkgType, BT_WHITE);
    EXPECT_EQ(page->gridType, 2);
    EXPECT_EQ(page->gridSize, 0);
    EXPECT_EQ(penColorIdx, 0);  // red on white
    EXPECT_EQ(composed(w).pixel(5, 5), 0xFFFFFFFFu);

    // From an earlier page a new page goes after the last one.
    hardLine(w, QPointF(10, 10), QPointF(100, 10));
    w->loadPage(0);
    EXPECT_EQ(penColorIdx, 5);
    EXPECT_EQ(gridTypeIdx, 1);
    EXPECT_EQ(gridSizeIdx, 2);
    w->newPage(QString(), true);
    EXPECT_EQ(pages.size(), 3u);
    EXPECT_EQ(pageIdx, 2);

    // The empty last page is reused for an image.
    const QString file = writeImage(200, 100, 0xFF3366CC);
    w->newPage(file, true);
    EXPECT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[2]->bkgType, BT_IMG);
    EXPECT_EQ(pages[2]->bkgFile, file);
    EXPECT_EQ(penColorIdx, 0);
    // ... but a page with a picture is never empty (it may be a page of a
    // document): a colour page comes after it and the picture stays.
    w->newPage(QString(), true);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pageIdx, 3);
    EXPECT_EQ(pages[2]->bkgFile, file);
    EXPECT_EQ(pages[3]->bkgType, BT_WHITE);
    EXPECT_EQ(bkgBmp, nullptr);
    EXPECT_EQ(composed(w).pixel(5, 50), 0xFFFFFFFFu);

    try {
        w->loadPage(4);
        FAIL() << "no error for a page out of range";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), QString::fromUtf8("指定的批注或黑板不存在"));
    }
    EXPECT_EQ(pageIdx, 3);
}

TEST_F(SurfaceTest, LoadPageFitsABackgroundImage)
{
    BoardWidget* w = makeBoard(1920, 1080);
    w->newPage(writeImage(3840, 2160, 0xFF808080), true);
    EXPECT_FLOAT_EQ(xRate, 0.5f);
    EXPECT_FLOAT_EQ(xLeft, 0);
    EXPECT_FLOAT_EQ(xTop, 0);
    EXPECT_FLOAT_EQ(winRate, 0.5f);
    w->newPage(writeImage(960, 1080, 0xFF808080), true);
    EXPECT_FLOAT_EQ(xRate, 1);
    EXPECT_FLOAT_EQ(xLeft, -480);
    EXPECT_FLOAT_EQ(xTop, 0);
    EXPECT_FLOAT_EQ(winLeft, -480);
    const QImage shown = composed(w);
    EXPECT_EQ(shown.pixel(100, 500), 0xFF000000u);
    EXPECT_EQ(shown.pixel(960, 500), 0xFF808080u);
}

TEST_F(SurfaceTest, MissingBackgroundFileGivesAColourPage)
{
    BoardWidget* w = makeBoard(400, 300);
    bkgType = BT_BLACK;
    w->newPage(tmp.filePath("no-such-image.png"), true);
    EXPECT_EQ(page->bkgType, BT_IMG);
    EXPECT_EQ(bkgBmp, nullptr);
    EXPECT_EQ(xRate, 1.0f);
    EXPECT_EQ(xLeft, 0.0f);
    EXPECT_EQ(xTop, 0.0f);
    EXPECT_EQ(penColorIdx, 5);
    EXPECT_EQ(composed(w).pixel(5, 50), BKG_COLORS[BT_BLACK]);
    std::unique_ptr<QPixmap> out(w->savePageToPixmap(pageIdx));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->size(), QSize(400, 300));
    EXPECT_EQ(toImage(*out).pixel(5, 50), BKG_COLORS[BT_BLACK]);
}

TEST_F(SurfaceTest, ImageLoadedBeforeTheFirstResizeIsFittedThen)
{
    board.reset(new BoardWidget());
    const QString file = writeImage(800, 600, 0xFF445566);
    board->newPage(file, true);
    EXPECT_EQ(xRate, 1.0f);
    resizeBoard(board.get(), 400, 300);
    EXPECT_FLOAT_EQ(xRate, 0.5f);
    EXPECT_FLOAT_EQ(xLeft, 0);
    EXPECT_FLOAT_EQ(winRate, 0.5f);
    EXPECT_EQ(composed(board.get()).pixel(399, 299), 0xFF445566u);
}

// ---- export --------------------------------------------------------------

TEST_F(SurfaceTest, ExportSizeFollowsTheInkBox)
{
    BoardWidget* w = makeBoard(1920, 1080);
    hardLine(w, QPointF(100, 100), QPointF(600, 400));
    EXPECT_EQ(page->maxPoint - page->minPoint, QPointF(500, 300));
    std::unique_ptr<QPixmap> small(w->savePageToPixmap(0));
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(small->size(), QSize(1920, 1080));
    const QImage img = toImage(*small);
    EXPECT_EQ(rgbOnly(img.pixel(350, 250)), rgbOnly(COLORS[penColorIdx]));  // scale 1: ink where it was drawn

    // 8000 x 1000: all of it, scaled down to the widest export. The area is
    // the ink from 80 to 8120 across (margin 20); down, the view's height,
    // moved from 0 just far enough to take in the ink's bottom and margin.
    hardLine(w, QPointF(100, 100), QPointF(1900, 1000));
    page->strokes.back()->segments[0]->append(new StrokePoint(0, 8100, 1100));
    page->updateMaxPoint(QPointF(8100, 1100));
    EXPECT_EQ(page->maxPoint - page->minPoint, QPointF(8000, 1000));
    float scale = 0;
    EXPECT_EQ(w->exportArea(0, &scale), QRectF(80, 40, 8040, 1080));
    EXPECT_FLOAT_EQ(scale, 5760.0f / 8040);
    std::unique_ptr<QPixmap> wide(w->savePageToPixmap(0));
    EXPECT_EQ(wide->size(), QSize(5760, 774));
    const QImage wimg = toImage(*wide);
    // The ink at the far end reaches the export: the last piece is a
    // quadratic from P9 (1720, 910) through P10 (1900, 1000) to P11.
    const QPointF onLine = QPointF(1720, 910) * 0.25 + QPointF(1900, 1000) * 0.5 + QPointF(8100, 1100) * 0.25;
    const QPointF at = (onLine - QPointF(80, 40)) * scale;
    EXPECT_EQ(rgbOnly(wimg.pixel(int(at.x()), int(std::round(at.y())))), rgbOnly(COLORS[penColorIdx]));
    const QPointF end = (QPointF(8100, 1100) - QPointF(80, 40)) * scale;
    EXPECT_EQ(rgbOnly(wimg.pixel(int(end.x()) - 1, int(end.y()))), rgbOnly(COLORS[penColorIdx]));
    EXPECT_EQ(w->savePageToPixmap(1), nullptr);
    EXPECT_EQ(w->savePageToPixmap(-1), nullptr);
}

TEST_F(SurfaceTest, ExportTakesInTheInkWhereverItLies)
{
    // Ink drawn with the view panned far up and to the left (page x -3000 to
    // -2500, y -1200), and ink far to the right and below (x 9000): all of
    // it is in the picture, soft and hard pen alike.
    BoardWidget* w = makeBoard(1920, 1080);
    penColorIdx = 2;
    xLeft = -3100;
    xTop = -1300;
    w->drawWin();
    hardLine(w, QPointF(100, 100), QPointF(600, 100));
    penModelIdx = 0;
    touchModel = PEN;
    w->penDown(100, 300, 5000);
    for (int i = 1; i <= 40; ++i)
        w->penMove(100 + 10 * i, 300 + (i % 2) * 3, 5000 + 12 * i);
    w->penUp(500, 300, 5500);
    w->finishPenStroke();
    touchModel = IDEL;
    xLeft = 8800;
    xTop = 900;
    w->drawWin();
    hardLine(w, QPointF(200, 200), QPointF(400, 300));
    std::unique_ptr<QPixmap> out(w->savePageToPixmap(0));
    ASSERT_NE(out, nullptr);
    const QImage img = toImage(*out);
    const QRgb ink = rgbOnly(COLORS[2]);
    auto inkIn = [&](const QRect& r) {
        int n = 0;
        for (int y = std::max(0, r.top()); y <= std::min(img.height() - 1, r.bottom()); ++y)
            for (int x = std::max(0, r.left()); x <= std::min(img.width() - 1, r.right()); ++x)
                n += rgbOnly(img.pixel(x, y)) == ink;
        return n;
    };
    // The picture spans the ink (-3000 .. 9200 across, -1200 .. 1200 down)
    // with its margin, scaled into the largest export.
    float scale = 0;
    const QRectF area = w->exportArea(0, &scale);
    EXPECT_LE(area.left(), -3000);
    EXPECT_GE(area.right(), 9200);
    EXPECT_LE(area.top(), -1200);
    EXPECT_GE(area.bottom(), 1200);
    EXPECT_LE(img.width(), MAX_WIDTH);
    EXPECT_LE(img.height(), MAX_HEIGHT);
    auto at = [&](double x, double y) {
        return QPoint(int((x - area.left()) * scale), int((y - area.top()) * scale));
    };
    const QPoint hardA = at(-3000, -1200), hardB = at(-2500, -1200);
    EXPECT_GT(inkIn(QRect(hardA, hardB).adjusted(0, -3, 0, 3)), (hardB.x() - hardA.x()) / 2);
    const QPoint softA = at(-3000, -1000), softB = at(-2600, -997);
    EXPECT_GT(inkIn(QRect(softA, softB).adjusted(0, -4, 0, 4)), (softB.x() - softA.x()) / 2);
    const QPoint farA = at(9000, 1100), farB = at(9200, 1200);
    EXPECT_GT(inkIn(QRect(farA, farB).adjusted(-3, -3, 3, 3)), (farB.x() - farA.x()) / 2);
}

TEST_F(SurfaceTest, EmptyColourPageExportsItsColourAndGrid)
{
    BoardWidget* w = makeBoard(1920, 1080);
    // At rate 1 from the origin the export is what the window layer shows.
    std::unique_ptr<QPixmap> out(w->savePageToPixmap(0));
    ASSERT_EQ(out->size(), QSize(1920, 1080));
    EXPECT_EQ(toImage(*out), toImage(*winBmp));
    const QImage img = toImage(*out);
    EXPECT_EQ(img.pixel(50, 30), GREEN);
    EXPECT_NE(img.pixel(0, 30), GREEN);  // the first tile's frame at the corner
    EXPECT_NE(img.pixel(108, 30), GREEN);

    bkgType = BT_WHITE;
    gridTypeIdx = 2;
    gridSizeIdx = 0;
    hardLine(w, QPointF(10, 10), QPointF(20, 10));
    w->newPage(QString(), true);
    out.reset(w->savePageToPixmap(1));
    EXPECT_EQ(toImage(*out), toImage(*winBmp));
    const QImage white = toImage(*out);
    EXPECT_EQ(white.pixel(10, 10), 0xFFFFFFFFu);
    EXPECT_NE(white.pixel(10, 53), 0xFFFFFFFFu);  // a rule at the bottom of the first tile
}

TEST_F(SurfaceTest, ImagePageExportsAtTheImageSize)
{
    BoardWidget* w = makeBoard(400, 300);
    w->newPage(writeImage(640, 480, 0xFF203040), true);
    touchModel = PEN;
    penModelIdx = 1;
    w->penDown(100, 100, 0);  // page (160, 160) at rate 0.625
    w->penMove(300, 100, 50);
    w->penUp(300, 100, 60);
    touchModel = IDEL;
    std::unique_ptr<QPixmap> out(w->savePageToPixmap(pageIdx));
    ASSERT_EQ(out->size(), QSize(640, 480));
    const QImage img = toImage(*out);
    EXPECT_EQ(img.pixel(20, 20), 0xFF203040u);
    EXPECT_EQ(rgbOnly(img.pixel(400, 160)), rgbOnly(COLORS[0]));  // ink at page coordinates
}

// ---- grid tiling and export limits ------------------------------------

TEST_F(SurfaceTest, GridStaysAnchoredToThePageAfterAPanAndAZoom)
{
    BoardWidget* w = makeBoard(1920, 1080);
    ASSERT_EQ(gridTypeIdx, 1);  // the large field grid: 108-unit tiles
    ASSERT_EQ(gridSizeIdx, 2);
    xRate = 2;
    xLeft = 1000.25f;
    xTop = -333;
    w->drawWin();
    const QImage win = toImage(*winBmp);
    // Page x 1080 (ten tiles) lands at view x (1080 - 1000.25) x 2 = 159.5,
    // drawn from 160; tiles are 216 pixels wide. Page y -324 (minus three
    // tiles) lands at (-324 + 333) x 2 = 18.
    const int row = 18 + 2 * 24;  // a row of the tile where only frame and cross are inked
    EXPECT_NE(win.pixel(160, row), GREEN);        // frame
    EXPECT_EQ(win.pixel(163, row), GREEN);        // inside the tile
    EXPECT_NE(win.pixel(160 + 108, row), GREEN);  // the cross through the middle
    EXPECT_EQ(win.pixel(160 + 150, row), GREEN);
    EXPECT_NE(win.pixel(160 + 216, row), GREEN);  // the next frame
    EXPECT_EQ(win.pixel(160 + 216 + 3, row), GREEN);
    EXPECT_NE(win.pixel(200, 18), GREEN);  // top frame of the tile row
    EXPECT_EQ(win.pixel(200, 21), GREEN);
    EXPECT_NE(win.pixel(200, 18 + 216), GREEN);
    // A pan by less than a tile moves the grid with the page.
    xLeft += 10;
    w->drawWin();
    const QImage panned = toImage(*winBmp);
    EXPECT_NE(panned.pixel(140, row), GREEN);
    EXPECT_EQ(panned.pixel(160, row), GREEN);
}

TEST_F(SurfaceTest, ViewLargerThanTheExportLimitIsShrunkIntoIt)
{
    // A 6400 x 800 view: the export takes in the whole view, scaled by
    // min(5760 / 6400, 3240 / 800) = 0.9.
    BoardWidget* w = makeBoard(6400, 800);
    hardLine(w, QPointF(1000, 400), QPointF(3000, 400));
    std::unique_ptr<QPixmap> out(w->savePageToPixmap(0));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->size(), QSize(5760, 720));
    const QImage img = toImage(*out);
    const QRgb ink = rgbOnly(COLORS[penColorIdx]);
    EXPECT_EQ(rgbOnly(img.pixel(1800, 360)), ink);  // page (2000, 400) at 0.9
    EXPECT_EQ(rgbOnly(img.pixel(2650, 360)), ink);
    EXPECT_NE(rgbOnly(img.pixel(2800, 360)), ink);  // past the scaled end (2700)
    EXPECT_NE(rgbOnly(img.pixel(1800, 400)), ink);  // not at the unscaled place
    // The grid shrinks with it: 108-unit tiles every 97 pixels.
    EXPECT_NE(img.pixel(97, 40), GREEN);
    EXPECT_EQ(img.pixel(117, 40), GREEN);
    EXPECT_NE(img.pixel(194, 40), GREEN);
}
