// Undo and redo of everything that changes the board, through the keys a
// user presses and the gestures a user makes: strokes and erasures, clearing,
// backgrounds and grids, pages added, deleted, duplicated and moved. One
// history for the board; an undo of another page's change shows that page.
#include "BoardTestSupport.h"

#include <QUndoStack>

using namespace boardtest;

namespace {

class Undo : public BoardTest {
protected:
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(board, static_cast<Qt::Key>(k), mods);
        QCoreApplication::processEvents();
    }
    void undo() { key(Qt::Key_Z, Qt::ControlModifier); }
    void redo() { key(Qt::Key_Y, Qt::ControlModifier); }

    // The board as a picture (the layers as the screen shows them).
    QImage shown()
    {
        board->drawWin();
        return btest::composed(board);
    }

    // A stroke of the given tool from a to b by one finger.
    void strokeWith(int toolKey, QPointF a, QPointF b)
    {
        key(toolKey);
        fingerStroke(a, b);
        key(Qt::Key_P);
    }
};

TEST_F(Undo, ClearingAPageIsUndoneAndRedone)
{
    fingerStroke(QPointF(100, 100), QPointF(600, 100));
    fingerStroke(QPointF(100, 300), QPointF(600, 300));
    const std::vector<Stroke*> drawn = page->strokes;
    const QImage inked = shown();
    key(Qt::Key_Delete);
    EXPECT_TRUE(page->strokes.empty());
    EXPECT_EQ(inkPixels(QRect(90, 90, 520, 220)), 0);
    // Another stroke after the clear, then back step by step.
    fingerStroke(QPointF(100, 500), QPointF(600, 500));
    undo();
    EXPECT_TRUE(page->strokes.empty());
    undo();
    EXPECT_EQ(page->strokes, drawn);  // the very strokes, in their order
    EXPECT_TRUE(shown() == inked);
    EXPECT_GT(inkPixels(QRect(90, 90, 520, 20)), 50);
    redo();
    EXPECT_TRUE(page->strokes.empty());
    redo();
    EXPECT_EQ(page->strokes.size(), 1u);
    undo();
    undo();
    EXPECT_EQ(page->strokes, drawn);
}

TEST_F(Undo, BackgroundGridAndPagesAreUndoneAndTheInkStays)
{
    fingerStroke(QPointF(100, 100), QPointF(600, 100));
    ASSERT_EQ(page->strokes.size(), 1u);
    const QImage before = shown();
    key(Qt::Key_B);
    EXPECT_EQ(page->getBkgType(), BT_BLACK);
    undo();
    EXPECT_EQ(page->getBkgType(), BT_GREEN);
    EXPECT_EQ(bkgType, BT_GREEN);  // and for new pages
    EXPECT_EQ(page->strokes.size(), 1u);
    key(Qt::Key_G);
    EXPECT_EQ(page->gridType, 2);
    key(Qt::Key_G, Qt::ShiftModifier);
    EXPECT_EQ(page->gridSize, 0);
    undo();  // grid type and size together: one change of the grid
    EXPECT_EQ(page->gridType, 1);
    EXPECT_EQ(page->gridSize, 2);
    EXPECT_EQ(gridTypeIdx, 1);
    EXPECT_EQ(page->strokes.size(), 1u);
    EXPECT_TRUE(shown() == before);
    key(Qt::Key_N, Qt::ControlModifier);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pageIdx, 1);
    undo();
    EXPECT_EQ(pages.size(), 1u);
    EXPECT_EQ(pageIdx, 0);
    EXPECT_EQ(page->strokes.size(), 1u);
    redo();
    EXPECT_EQ(pages.size(), 2u);
    EXPECT_EQ(pageIdx, 1);
}

TEST_F(Undo, SuccessivePressesOfOneKeyAreOneStep)
{
    fingerStroke(QPointF(100, 100), QPointF(600, 100));
    key(Qt::Key_B);
    key(Qt::Key_B);
    EXPECT_EQ(page->getBkgType(), BT_WHITE);
    undo();
    EXPECT_EQ(page->getBkgType(), BT_GREEN);
    EXPECT_EQ(page->strokes.size(), 1u);
    // Round to where it began: nothing is left to undo but the stroke.
    redo();
    key(Qt::Key_B);
    EXPECT_EQ(page->getBkgType(), BT_GREEN);
    EXPECT_EQ(board->undoStack()->count(), 1);
    undo();
    EXPECT_TRUE(page->strokes.empty());
}

TEST_F(Undo, RedoSurvivesAStrokeThatAGestureTookBack)
{
    fingerStroke(QPointF(100, 100), QPointF(600, 100));
    Stroke* drawn = page->strokes[0];
    undo();
    ASSERT_TRUE(page->strokes.empty());
    // A two-finger pan: the first finger's touch starts a stroke, the second
    // finger a moment later takes it back.
    touch(board, {pressed(0, QPointF(800, 500))});
    now() += 30;
    touch(board, {still(0, QPointF(800, 500)), pressed(1, QPointF(850, 500))});
    EXPECT_EQ(touchModel, DRAG);
    for (int i = 1; i <= 5; ++i) {
        now() += 10;
        touch(board, {moved(0, QPointF(800 + 10 * i, 500)), moved(1, QPointF(850 + 10 * i, 500))});
    }
    now() += 10;
    touch(board, {released(0, QPointF(850, 500)), released(1, QPointF(900, 500))});
    ASSERT_TRUE(waitForSpringBacks());
    EXPECT_TRUE(page->strokes.empty());
    redo();
    ASSERT_EQ(page->strokes.size(), 1u);
    EXPECT_EQ(page->strokes[0], drawn);
}

TEST_F(Undo, EveryKindOfStrokeIsOneStepAndErasuresGiveTheInkBack)
{
    fingerStroke(QPointF(100, 300), QPointF(900, 300));  // soft pen
    key(Qt::Key_H);
    fingerStroke(QPointF(100, 400), QPointF(900, 400));  // hard pen
    const QImage inked = shown();
    strokeWith(Qt::Key_E, QPointF(200, 300), QPointF(250, 300));  // rectangle eraser
    strokeWith(Qt::Key_T, QPointF(400, 250), QPointF(500, 250));  // a line: clears nothing yet
    // A free-form eraser around part of both lines.
    key(Qt::Key_T);
    touch(board, {pressed(0, QPointF(600, 250))});
    for (QPointF p : {QPointF(700, 250), QPointF(700, 450), QPointF(600, 450), QPointF(600, 255)}) {
        now() += 10;
        touch(board, {moved(0, p)});
    }
    now() += 10;
    touch(board, {released(0, QPointF(600, 255))});
    now() += 1000;
    key(Qt::Key_P);
    // Four fingers.
    const std::vector<QPointF> at = {QPointF(780, 280), QPointF(820, 280), QPointF(780, 420), QPointF(820, 420)};
    touch(board, {pressed(0, at[0]), pressed(1, at[1]), pressed(2, at[2]), pressed(3, at[3])});
    now() += 10;
    touch(board, {released(0, at[0]), released(1, at[1]), released(2, at[2]), released(3, at[3])});
    now() += 1000;
    ASSERT_EQ(page->strokes.size(), 6u);
    EXPECT_EQ(inkPixels(QRect(640, 290, 20, 120)), 0);  // inside the free-form area
    EXPECT_EQ(inkPixels(QRect(790, 290, 20, 120)), 0);  // under the four fingers
    const StrokeType kinds[6] = {TT_P_SOFT, TT_P_HARD, TT_E_RECT, TT_E_TRAP, TT_E_TRAP, TT_E_RECT};
    for (int i = 5; i >= 2; --i) {
        EXPECT_EQ(page->strokes.back()->type, kinds[i]);
        undo();
        EXPECT_EQ(page->strokes.size(), static_cast<size_t>(i));
    }
    // Every erasure undone: the ink is as it was drawn.
    EXPECT_TRUE(shown() == inked);
    for (int i = 0; i < 4; ++i)
        redo();
    EXPECT_EQ(page->strokes.size(), 6u);
    EXPECT_EQ(inkPixels(QRect(640, 290, 20, 120)), 0);
    EXPECT_EQ(inkPixels(QRect(790, 290, 20, 120)), 0);
}

TEST_F(Undo, PagesAreDeletedDuplicatedAndMovedInUndoableSteps)
{
    // The only page cannot go.
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(pages.size(), 1u);
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    key(Qt::Key_N, Qt::ControlModifier);
    fingerStroke(QPointF(100, 200), QPointF(300, 200));
    key(Qt::Key_N, Qt::ControlModifier);
    key(Qt::Key_B);
    const std::vector<Page*> order = pages;  // A (ink), B (ink), C (black)
    ASSERT_EQ(order.size(), 3u);

    // Duplicate B: a page of its own after it, with the same ink.
    key(Qt::Key_PageUp);
    ASSERT_EQ(page, order[1]);
    key(Qt::Key_D, Qt::ControlModifier);
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pageIdx, 2);
    Page* copy = pages[2];
    EXPECT_NE(copy, order[1]);
    ASSERT_EQ(copy->strokes.size(), 1u);
    EXPECT_NE(copy->strokes[0], order[1]->strokes[0]);
    EXPECT_EQ(*copy->strokes[0]->segments[0]->points.back()->point,
              *order[1]->strokes[0]->segments[0]->points.back()->point);
    fingerStroke(QPointF(100, 400), QPointF(300, 400));  // on the copy only
    EXPECT_EQ(copy->strokes.size(), 2u);
    EXPECT_EQ(order[1]->strokes.size(), 1u);

    // Move the copy to the front, step by step.
    key(Qt::Key_PageUp, Qt::ControlModifier | Qt::ShiftModifier);
    key(Qt::Key_PageUp, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(pages, (std::vector<Page*>{copy, order[0], order[1], order[2]}));
    EXPECT_EQ(page, copy);
    EXPECT_EQ(pageIdx, 0);
    key(Qt::Key_PageUp, Qt::ControlModifier | Qt::ShiftModifier);  // at the front already
    EXPECT_EQ(pages[0], copy);

    // Delete A (the page after it): the page that takes its place shows.
    key(Qt::Key_PageDown);
    ASSERT_EQ(page, order[0]);
    key(Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(pages, (std::vector<Page*>{copy, order[1], order[2]}));
    EXPECT_EQ(page, order[1]);

    // Back to the start, one step at a time; every page object comes back.
    undo();  // delete
    EXPECT_EQ(pages, (std::vector<Page*>{copy, order[0], order[1], order[2]}));
    EXPECT_EQ(page, order[0]);
    EXPECT_EQ(order[0]->strokes.size(), 1u);
    undo();  // move
    undo();  // move
    EXPECT_EQ(pages, (std::vector<Page*>{order[0], order[1], copy, order[2]}));
    undo();  // the stroke on the copy
    EXPECT_EQ(copy->strokes.size(), 1u);
    undo();  // duplicate
    EXPECT_EQ(pages, order);
    EXPECT_EQ(page, order[1]);
    redo();
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(pages[2], copy);
}

TEST_F(Undo, UndoOfAnotherPagesChangeShowsThatPage)
{
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    key(Qt::Key_N, Qt::ControlModifier);
    key(Qt::Key_W);  // no operation: changes nothing
    key(Qt::Key_PageUp);
    key(Qt::Key_PageDown);
    ASSERT_EQ(pageIdx, 1);
    undo();  // the new page goes, the first page shows
    EXPECT_EQ(pageIdx, 0);
    EXPECT_EQ(pages.size(), 1u);
    key(Qt::Key_N, Qt::ControlModifier);  // a new page: the redo of the old one is gone
    ASSERT_EQ(pageIdx, 1);
    undo();
    undo();  // the stroke of the first page, which shows
    EXPECT_EQ(pageIdx, 0);
    EXPECT_TRUE(pages[0]->strokes.empty());
    EXPECT_EQ(inkPixels(QRect(90, 90, 220, 20)), 0);
}

TEST_F(Undo, UndoWhileDrawingEndsTheStrokeAndTakesItBack)
{
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    touch(board, {pressed(0, QPointF(100, 300))});
    for (int i = 1; i <= 5; ++i) {
        now() += 10;
        touch(board, {moved(0, QPointF(100 + 20 * i, 300))});
    }
    undo();
    EXPECT_EQ(touchModel, IDEL);
    ASSERT_EQ(page->strokes.size(), 1u);
    // The finger goes on moving and lifts: nothing more is drawn.
    now() += 10;
    touch(board, {moved(0, QPointF(300, 300))});
    touch(board, {released(0, QPointF(300, 300))});
    EXPECT_EQ(page->strokes.size(), 1u);
    redo();
    EXPECT_EQ(page->strokes.size(), 2u);
}

TEST_F(Undo, TheHistoryIsBoundedAndLetsGoOfItsOldestSteps)
{
    const int limit = board->undoStack()->undoLimit();
    ASSERT_GT(limit, 0);
    for (int i = 0; i < limit + 20; ++i) {
        touch(board, {pressed(0, QPointF(100 + i % 50, 100 + i / 50 * 10))});
        now() += 8;
        touch(board, {released(0, QPointF(110 + i % 50, 100 + i / 50 * 10))});
        now() += 200;
    }
    EXPECT_EQ(board->undoStack()->count(), limit);
    for (int i = 0; i < limit + 20; ++i)
        undo();
    EXPECT_EQ(page->strokes.size(), 20u);  // the oldest stay on the page for good
}

}  // namespace
