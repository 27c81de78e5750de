// Page operations of the board: new pages, paging, backgrounds and grids,
// undo and clear, and where each re-renders the layers.
#include "BoardTestSupport.h"

#include <QTemporaryDir>

using namespace boardtest;

namespace {

class Pages : public BoardTest {
protected:
    QString image(int w, int h)
    {
        const QString path = dir.filePath(QString("bkg-%1x%2.png").arg(w).arg(h));
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(qRgb(200, 100, 50));
        EXPECT_TRUE(img.save(path));
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(Pages, NewPageReusesAnEmptyLastPage)
{
    ASSERT_EQ(pages.size(), 1u);
    Page* first = pages[0];
    board->newPage(QString(), true);
    EXPECT_EQ(pages.size(), 1u);
    EXPECT_EQ(page, first);
    const QString file = image(400, 300);
    board->newPage(file, false);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(first->bkgFile, file);
    EXPECT_EQ(first->getBkgType(), BT_IMG);
    EXPECT_FALSE(pageable);
}

TEST_F(Pages, NewPageFromAnEarlierPageAppendsAndShowsIt)
{
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->newPage(QString(), true);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pageIdx, 1);
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->priorPage();
    ASSERT_EQ(pageIdx, 0);
    board->newPage(QString(), true);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pageIdx, 2);
    EXPECT_EQ(page, pages[2]);
    EXPECT_TRUE(page->strokes.empty());
}

TEST_F(Pages, PriorAndNextStopAtTheEnds)
{
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->newPage(QString(), true);
    board->priorPage();
    ASSERT_EQ(pageIdx, 0);
    markStrokeLayer();
    board->priorPage();
    EXPECT_EQ(pageIdx, 0);
    EXPECT_TRUE(strokeLayerMarked());  // nothing re-rendered
    board->nextPage();
    EXPECT_EQ(pageIdx, 1);
    EXPECT_FALSE(strokeLayerMarked());
    markStrokeLayer();
    board->nextPage();
    EXPECT_EQ(pageIdx, 1);
    EXPECT_TRUE(strokeLayerMarked());
    // The first page comes back with its stroke on the layer.
    board->priorPage();
    EXPECT_GT(inkPixels(QRect(90, 90, 220, 20)), 50);
}

TEST_F(Pages, PenColourFollowsTheBackground)
{
    EXPECT_EQ(penColorIdx, 5);  // green: white pen
    board->setBkgType(BT_WHITE);
    EXPECT_EQ(page->getBkgType(), BT_WHITE);
    EXPECT_EQ(bkgType, BT_WHITE);
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->newPage(QString(), true);  // a new page takes the board's type
    EXPECT_EQ(page->getBkgType(), BT_WHITE);
    EXPECT_EQ(penColorIdx, 0);
    board->setBkgType(BT_BLACK);
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->newPage(QString(), true);
    EXPECT_EQ(penColorIdx, 5);
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->newPage(image(200, 200), true);
    EXPECT_EQ(penColorIdx, 0);
    board->priorPage();  // the black page again
    EXPECT_EQ(penColorIdx, 5);
}

TEST_F(Pages, BackgroundImagesAreFittedIntoTheView)
{
    board->newPage(image(3840, 2160), true);
    EXPECT_FLOAT_EQ(xRate, 0.5);
    EXPECT_FLOAT_EQ(xLeft, 0);
    EXPECT_FLOAT_EQ(xTop, 0);
    EXPECT_FLOAT_EQ(winRate, 0.5);
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->newPage(image(960, 1080), true);
    EXPECT_FLOAT_EQ(xRate, 1);
    EXPECT_FLOAT_EQ(xLeft, -480);
    EXPECT_FLOAT_EQ(xTop, 0);
    EXPECT_FLOAT_EQ(winLeft, -480);
    // The window layer shows the image in the middle, black beside it.
    const QImage win = winBmp->toImage();
    EXPECT_EQ(win.pixel(960, 540), qRgb(200, 100, 50));
    EXPECT_EQ(win.pixel(100, 540), qRgb(0, 0, 0));
}

TEST_F(Pages, GridAndBackgroundSettersReRender)
{
    markStrokeLayer();
    board->setGridType(0);
    EXPECT_EQ(page->gridType, 0);
    EXPECT_EQ(gridTypeIdx, 0);
    EXPECT_FALSE(strokeLayerMarked());
    // Without a grid the window layer is the plain colour.
    EXPECT_EQ(winBmp->toImage().pixel(54, 54), 0xFF274143u);
    board->setGridType(2);
    board->setGridSize(0);
    EXPECT_EQ(page->gridType, 2);
    EXPECT_EQ(page->gridSize, 0);
    EXPECT_EQ(gridSizeIdx, 0);
    markStrokeLayer();
    board->setBkgType(BT_BLACK);
    EXPECT_FALSE(strokeLayerMarked());
    EXPECT_EQ(page->getBkgType(), BT_BLACK);
    board->setGridType(0);
    EXPECT_EQ(winBmp->toImage().pixel(500, 500), 0xFF21282Fu);
    // Page settings survive paging.
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    board->newPage(QString(), true);
    board->setGridType(1);
    board->setGridSize(1);
    board->priorPage();
    EXPECT_EQ(gridTypeIdx, 0);
    EXPECT_EQ(gridSizeIdx, 0);
    board->nextPage();
    EXPECT_EQ(gridTypeIdx, 1);
    EXPECT_EQ(gridSizeIdx, 1);
}

TEST_F(Pages, UndoRemovesTheLastStroke)
{
    markStrokeLayer();
    board->undo();  // nothing to undo: no re-render
    EXPECT_TRUE(strokeLayerMarked());
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    fingerStroke(QPointF(100, 400), QPointF(300, 400));
    ASSERT_EQ(page->strokes.size(), 2u);
    Stroke* first = page->strokes[0];
    markStrokeLayer();
    board->undo();
    ASSERT_EQ(page->strokes.size(), 1u);
    EXPECT_EQ(page->strokes[0], first);
    EXPECT_FALSE(strokeLayerMarked());
    EXPECT_EQ(inkPixels(QRect(90, 390, 220, 20)), 0);
    EXPECT_GT(inkPixels(QRect(90, 90, 220, 20)), 50);
    board->undo();
    EXPECT_TRUE(page->strokes.empty());
}

TEST_F(Pages, ClearShowsAnImagePageFromItsCorner)
{
    board->newPage(image(3840, 2160), true);
    ASSERT_FLOAT_EQ(xRate, 0.5);
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    eraserStatus = ES_ERASER_TRAP;
    board->clear();
    EXPECT_TRUE(page->strokes.empty());
    EXPECT_FLOAT_EQ(xRate, 1);
    EXPECT_FLOAT_EQ(xLeft, 0);
    EXPECT_FLOAT_EQ(xTop, 0);
    EXPECT_FLOAT_EQ(winRate, 1);
    EXPECT_EQ(eraserStatus, ES_PEN);
    EXPECT_EQ(page->getBkgType(), BT_IMG);
    EXPECT_EQ(inkPixels(QRect(0, 0, 400, 200)), 0);
    // The image at one pixel per unit from its top-left corner.
    EXPECT_EQ(winBmp->toImage().pixel(1900, 1000), qRgb(200, 100, 50));
}

}  // namespace
