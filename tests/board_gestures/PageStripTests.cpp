// The strip of page thumbnails in the board window: one thumbnail per page
// that follows the page's background and ink, a tap shows a page, a swipe
// scrolls, its buttons duplicate, delete and move the current page, and a
// document's pages all get their thumbnails.
#include "BoardForm.h"
#include "BoardTestSupport.h"
#include "PageStrip.h"
#include "QImgBtn.h"

#include <QAction>
#include <QDir>
#include <QListWidget>
#include <QScrollBar>
#include <QScroller>
#include <QTemporaryDir>

using namespace boardtest;
using btest::waitFor;

namespace {

class Strip : public BoardTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        oldCwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        resetBoardState();
        boardClock = fakeClock;
        form = new BoardForm();
        form->resize(1200, 800);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form, tsupport()));
        board = boardWidget;
        strip = form->pageStrip();
        ASSERT_NE(strip, nullptr);
    }

    void TearDown() override
    {
        EXPECT_TRUE(waitForSpringBacks());
        delete form;
        form = nullptr;
        board = nullptr;
        resetBoardState();
        QDir::setCurrent(oldCwd);
    }

    static int tsupport() { return 60000; }

    void showStrip()
    {
        if (!strip->isVisible())
            form->findChild<QAction*>("pages")->trigger();
        ASSERT_TRUE(strip->isVisible());
    }


    // Every thumbnail drawn, none waiting.
    bool settled()
    {
        if (strip->pendingBackgrounds() > 0 || strip->editsPending())
            return false;
        for (int i = 0; i < static_cast<int>(pages.size()); ++i)
            if (strip->thumbnail(i).isNull())
                return false;
        return true;
    }

    QRgb thumbCentre(int idx)
    {
        const QImage t = strip->thumbnail(idx);
        return t.isNull() ? 0 : t.pixel(t.width() / 2, t.height() / 2);
    }

    void tapItem(int row)
    {
        QListWidget* list = strip->list();
        const QRect r = list->visualItemRect(list->item(row));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, r.center());
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    QString oldCwd;
    BoardForm* form = nullptr;
    PageStrip* strip = nullptr;
};

TEST_F(Strip, ThumbnailsFollowThePagesAndATapShowsAPage)
{
    showStrip();
    // Three pages: green with ink, black with a dot, white.
    fingerStroke(QPointF(100, 300), QPointF(900, 300));
    QTest::keyClick(board, Qt::Key_N, Qt::ControlModifier);
    QTest::keyClick(board, Qt::Key_B);
    fingerStroke(QPointF(10, 10), QPointF(12, 10));
    QTest::keyClick(board, Qt::Key_N, Qt::ControlModifier);  // black, as the page before
    QTest::keyClick(board, Qt::Key_B);
    ASSERT_EQ(pages.size(), 3u);
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    QListWidget* list = strip->list();
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->currentRow(), 2);
    EXPECT_EQ(list->item(0)->text(), "1");
    EXPECT_EQ(thumbCentre(1), BKG_COLORS[BT_BLACK]);
    EXPECT_EQ(thumbCentre(2), BKG_COLORS[BT_WHITE]);
    // The first page's ink is in its thumbnail.
    const QImage first = strip->thumbnail(0);
    int white = 0;
    for (int y = 0; y < first.height(); ++y)
        for (int x = 0; x < first.width(); ++x)
            white += qRed(first.pixel(x, y)) > 200 && qGreen(first.pixel(x, y)) > 200;
    EXPECT_GT(white, 10);

    // A tap shows the page.
    tapItem(0);
    EXPECT_EQ(pageIdx, 0);
    EXPECT_EQ(list->currentRow(), 0);
    ASSERT_EQ(list->selectedItems().size(), 1);
    EXPECT_EQ(list->selectedItems()[0], list->item(0));
    // Ink on it: its thumbnail follows a moment later, the others stay.
    const QImage blackBefore = strip->thumbnail(1);
    fingerStroke(QPointF(100, 600), QPointF(900, 600));
    ASSERT_TRUE(waitFor([&] { return settled() && strip->thumbnail(0) != first; }));
    EXPECT_TRUE(strip->thumbnail(1) == blackBefore);
    // Keys move the selection too.
    QTest::keyClick(board, Qt::Key_PageDown);
    EXPECT_EQ(list->currentRow(), 1);
    // The strip never takes the keyboard from the board.
    EXPECT_EQ(QApplication::focusWidget(), board);
}

TEST_F(Strip, ItsButtonsDuplicateDeleteAndMoveTheCurrentPage)
{
    showStrip();
    fingerStroke(QPointF(100, 300), QPointF(900, 300));
    QTest::keyClick(board, Qt::Key_N, Qt::ControlModifier);
    QTest::keyClick(board, Qt::Key_B);
    const std::vector<Page*> before = pages;  // A (ink), B (black), B shown
    QTest::mouseClick(strip->button("page_duplicate"), Qt::LeftButton);
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pageIdx, 2);
    EXPECT_EQ(pages[2]->bkgType, BT_BLACK);
    QTest::mouseClick(strip->button("page_earlier"), Qt::LeftButton);
    QTest::mouseClick(strip->button("page_earlier"), Qt::LeftButton);
    EXPECT_EQ(pageIdx, 0);
    EXPECT_EQ(pages[1], before[0]);
    QTest::mouseClick(strip->button("page_later"), Qt::LeftButton);
    EXPECT_EQ(pageIdx, 1);
    EXPECT_EQ(pages[0], before[0]);
    QTest::mouseClick(strip->button("page_delete"), Qt::LeftButton);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages, before);
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    EXPECT_EQ(strip->list()->count(), 2);
    EXPECT_EQ(thumbCentre(1), BKG_COLORS[BT_BLACK]);
    // Each was one step.
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(board, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(pages, before);
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    EXPECT_EQ(strip->list()->count(), 2);
}

TEST_F(Strip, ASwipeScrollsAndAllPagesOfADocumentGetThumbnails)
{
    std::vector<QColor> colours;
    for (int i = 0; i < 12; ++i)
        colours.push_back(QColor::fromHsv(i * 30, 200, 220));
    const QString pdf = dir.filePath("twelve.pdf");
    ASSERT_TRUE(btest::makePdf(pdf, colours, QSizeF(720, 405)));
    EXPECT_FALSE(strip->isVisible());
    ASSERT_TRUE(board->openDocument(pdf));
    // Opening a document of several pages shows the strip.
    EXPECT_TRUE(strip->isVisible());
    ASSERT_TRUE(waitFor([&] { return settled(); }));
    ASSERT_EQ(strip->list()->count(), 12);
    for (int i = 0; i < 12; ++i) {
        const QColor c(thumbCentre(i));
        EXPECT_NEAR(c.hue(), colours[i].hue(), 6) << i;
    }
    // Twelve thumbnails do not fit: a swipe to the left scrolls the strip.
    QListWidget* list = strip->list();
    QScrollBar* bar = list->horizontalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_TRUE(QScroller::hasScroller(list->viewport()));
    const int startValue = bar->value();
    // A finger: touch points on the window, which the platform turns into
    // the mouse events the strip scrolls by.
    QWidget* vp = list->viewport();
    QWindow* win = form->windowHandle();
    const QPoint from = vp->mapTo(form, QPoint(vp->width() - 40, vp->height() / 2));
    QTest::touchEvent(win, touchScreen()).press(0, from, win);
    for (int i = 1; i <= 20; ++i) {
        QTest::qWait(15);
        QTest::touchEvent(win, touchScreen()).move(0, from - QPoint(30 * i, 0), win);
    }
    QTest::qWait(15);
    QTest::touchEvent(win, touchScreen()).release(0, from - QPoint(600, 0), win);
    EXPECT_TRUE(waitFor([&] { return bar->value() > startValue + 200; })) << bar->value();
    // A swipe is no tap: the page shown is the one it was.
    EXPECT_EQ(pageIdx, 0);
    // A finger's tap on a thumbnail shows its page.
    ASSERT_TRUE(waitFor([&] { return QScroller::scroller(vp)->state() == QScroller::Inactive; }));
    int row = -1;
    for (int i = 1; i < list->count() && row < 0; ++i)
        if (vp->rect().contains(list->visualItemRect(list->item(i))))
            row = i;
    ASSERT_GT(row, 0);
    const QPoint mid = list->visualItemRect(list->item(row)).center();
    QTest::touchEvent(win, touchScreen()).press(0, vp->mapTo(form, mid), win);
    QTest::qWait(20);
    QTest::touchEvent(win, touchScreen()).release(0, vp->mapTo(form, mid), win);
    EXPECT_TRUE(waitFor([&] { return pageIdx == row; })) << pageIdx << " " << row;
}

}  // namespace
