// The board window (its form, first page, closing) and the board's keyboard
// shortcuts, including saving the page as a PNG file.
#include "BoardForm.h"
#include "BoardTestSupport.h"

#include <QDir>
#include <QFile>
#include <QLayout>
#include <QPointer>
#include <QTemporaryDir>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace boardtest;

namespace {

TEST(BoardWindow, FreshWindowShowsOneGreenPageWithTheLargeFieldGrid)
{
    resetBoardState();
    boardClock = fakeClock;
    auto* form = new BoardForm();
    EXPECT_EQ(form->objectName(), "BoardForm");
    EXPECT_EQ(form->windowTitle(), "Form");
    EXPECT_EQ(form->size(), QSize(1109, 641));
    EXPECT_FALSE(form->testAttribute(Qt::WA_QuitOnClose));
    ASSERT_NE(boardWidget, nullptr);
    EXPECT_EQ(boardWidget->parent(), form);
    EXPECT_EQ(boardWidget->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    EXPECT_EQ(boardWidget->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);

    // The layouts: no margin outside, one inner box holding the board.
    QLayout* outer = form->layout();
    ASSERT_NE(outer, nullptr);
    EXPECT_EQ(outer->objectName(), "verticalLayout_2");
    EXPECT_EQ(outer->contentsMargins(), QMargins(0, 0, 0, 0));
    ASSERT_EQ(outer->count(), 1);
    QLayout* inner = outer->itemAt(0)->layout();
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->objectName(), "verticalLayout");
    EXPECT_EQ(inner->spacing(), 6);
    ASSERT_EQ(inner->count(), 1);
    EXPECT_EQ(inner->itemAt(0)->widget(), boardWidget);

    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pageIdx, 0);
    EXPECT_EQ(page->getBkgType(), BT_GREEN);
    EXPECT_TRUE(page->bkgFile.isEmpty());
    EXPECT_EQ(page->gridType, 1);
    EXPECT_EQ(page->gridSize, 2);
    EXPECT_TRUE(pageable);

    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form, 60000));
    QCoreApplication::processEvents();
    EXPECT_FLOAT_EQ(xRate, 1);
    EXPECT_FLOAT_EQ(xLeft, 0);
    EXPECT_FLOAT_EQ(xTop, 0);
    EXPECT_EQ(penColorIdx, 5);
    EXPECT_EQ(gridTypeIdx, 1);
    EXPECT_EQ(gridSizeIdx, 2);
    // The board fills the window and follows its size.
    EXPECT_EQ(boardWidget->geometry(), form->rect());
    EXPECT_EQ(VIEW_WIDTH, 1109);
    EXPECT_EQ(VIEW_HEIGHT, 641);
    form->resize(800, 500);
    QCoreApplication::processEvents();
    EXPECT_EQ(boardWidget->geometry(), QRect(0, 0, 800, 500));
    EXPECT_EQ(VIEW_WIDTH, 800);
    EXPECT_EQ(VIEW_HEIGHT, 500);
    // Green between the grid lines of the 108-pixel tiles.
    const QImage shown = boardWidget->grab().toImage();
    EXPECT_EQ(shown.pixel(30, 30), 0xFF274143u);
    EXPECT_NE(shown.pixel(0, 0), 0xFF274143u);  // the tile's frame

    // Closing hides the window and ends nothing.
    int lastClosed = 0;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&lastClosed]() { ++lastClosed; });
    QPointer<BoardForm> guard(form);
    EXPECT_TRUE(form->close());
    QCoreApplication::processEvents();
    EXPECT_FALSE(guard.isNull());
    EXPECT_TRUE(form->isHidden());
    EXPECT_EQ(lastClosed, 0);
    EXPECT_EQ(pages.size(), 1u);

    delete form;
    EXPECT_EQ(boardWidget, nullptr);
    resetBoardState();
}

// Captures what the process writes to standard output meanwhile.
class StdoutCapture {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        saved_ = dup(1);
        fd_ = open(file_.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd_, 1);
    }
    QByteArray finish()
    {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        close(fd_);
        QFile f(file_);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }

private:
    QString file_ = QDir::tempPath() + QString("/board-stdout-%1.txt").arg(getpid());
    int saved_ = -1, fd_ = -1;
};

class Shortcuts : public BoardTest {
protected:
    void key(int k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(board, static_cast<Qt::Key>(k), mods);
    }
};

TEST_F(Shortcuts, ToolsPenColoursAndSizes)
{
    key(Qt::Key_E);
    EXPECT_EQ(eraserStatus, ES_ERASER_RECT);
    key(Qt::Key_T);
    EXPECT_EQ(eraserStatus, ES_ERASER_TRAP);
    key(Qt::Key_P);
    EXPECT_EQ(eraserStatus, ES_PEN);
    key(Qt::Key_H);
    EXPECT_EQ(penModelIdx, 1);
    key(Qt::Key_S);
    EXPECT_EQ(penModelIdx, 0);
    for (int c = 0; c < 6; ++c) {
        key(Qt::Key_1 + c);
        EXPECT_EQ(penColorIdx, c);
    }
    key(Qt::Key_3, Qt::KeypadModifier);
    EXPECT_EQ(penColorIdx, 2);
    for (int s = 0; s < 3; ++s) {
        key(Qt::Key_7 + s);
        EXPECT_EQ(penSizeIdx, s);
    }
    // Ctrl with a digit is no shortcut.
    key(Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(penColorIdx, 2);

    // The choices reach the next stroke.
    key(Qt::Key_H);
    key(Qt::Key_2);
    key(Qt::Key_7);
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    ASSERT_EQ(page->strokes.size(), 1u);
    EXPECT_EQ(page->strokes[0]->type, TT_P_HARD);
    EXPECT_EQ(page->strokes[0]->colorIdx, 1);
    EXPECT_EQ(page->strokes[0]->width, 2);

    // The rectangle eraser clears what the stroke left under it.
    key(Qt::Key_E);
    touch(board, {pressed(0, QPointF(200, 100))});
    EXPECT_EQ(page->strokes.back()->type, TT_E_RECT);
    touch(board, {released(0, QPointF(200, 100))});
    EXPECT_EQ(inkPixels(QRect(160, 95, 80, 10)), 0);
}

TEST_F(Shortcuts, UndoClearAndPages)
{
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    fingerStroke(QPointF(100, 300), QPointF(300, 300));
    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(page->strokes.size(), 1u);
    key(Qt::Key_Z);  // without Ctrl: nothing
    EXPECT_EQ(page->strokes.size(), 1u);
    key(Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(pages.size(), 2u);
    EXPECT_EQ(pageIdx, 1);
    key(Qt::Key_N, Qt::ControlModifier);  // the new page is still empty: reused
    EXPECT_EQ(pages.size(), 2u);
    key(Qt::Key_PageUp);
    EXPECT_EQ(pageIdx, 0);
    key(Qt::Key_PageDown);
    EXPECT_EQ(pageIdx, 1);
    key(Qt::Key_PageUp);
    xLeft = 300;
    key(Qt::Key_Delete);
    EXPECT_TRUE(page->strokes.empty());
    EXPECT_FLOAT_EQ(xLeft, 0);

    // A page change during a stroke ends it: later moves reach no stroke.
    fingerStroke(QPointF(100, 100), QPointF(300, 100));
    touch(board, {pressed(0, QPointF(500, 500))});
    key(Qt::Key_PageDown);
    EXPECT_EQ(touchModel, IDEL);
    touch(board, {moved(0, QPointF(600, 500))});
    EXPECT_TRUE(pages[1]->strokes.empty());
    EXPECT_EQ(pages[0]->strokes.back()->segments.back()->points.size(), 1u);
}

TEST_F(Shortcuts, BackgroundAndGrid)
{
    key(Qt::Key_B);
    EXPECT_EQ(page->getBkgType(), BT_BLACK);
    key(Qt::Key_B);
    EXPECT_EQ(page->getBkgType(), BT_WHITE);
    EXPECT_EQ(bkgType, BT_WHITE);
    key(Qt::Key_B);
    EXPECT_EQ(page->getBkgType(), BT_GREEN);
    ASSERT_EQ(gridTypeIdx, 1);
    key(Qt::Key_G);
    EXPECT_EQ(page->gridType, 2);
    key(Qt::Key_G);
    EXPECT_EQ(page->gridType, 0);
    key(Qt::Key_G);
    EXPECT_EQ(page->gridType, 1);
    ASSERT_EQ(gridSizeIdx, 2);
    key(Qt::Key_G, Qt::ShiftModifier);
    EXPECT_EQ(page->gridSize, 0);
    key(Qt::Key_G, Qt::ShiftModifier);
    EXPECT_EQ(page->gridSize, 1);
    EXPECT_EQ(gridSizeIdx, 1);
}

TEST_F(Shortcuts, SaveWritesThePageAsPng)
{
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    fingerStroke(QPointF(100, 100), QPointF(600, 400));
    key(Qt::Key_3);
    fingerStroke(QPointF(700, 100), QPointF(900, 800));

    StdoutCapture out;
    key(Qt::Key_S, Qt::ControlModifier);
    const QByteArray text = out.finish();
    QDir::setCurrent(old);

    // In the board folder, "boards" under the working directory.
    const QDir boards(dir.filePath("boards"));
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.png"}, QDir::Files).isEmpty());
    const QStringList files = boards.entryList({"board-*.png"}, QDir::Files);
    ASSERT_EQ(files.size(), 1) << text.constData();
    const QString path = boards.filePath(files[0]);
    EXPECT_EQ(QString::fromLocal8Bit(text), QString("SavePage: %1\n").arg(path));
    EXPECT_EQ(page->strokes.size(), 2u);  // saving changes nothing

    QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    QPixmap* expected = board->savePageToPixmap(pageIdx);
    ASSERT_NE(expected, nullptr);
    const QImage want = expected->toImage().convertToFormat(QImage::Format_ARGB32);
    delete expected;
    const QImage got = saved.convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(got.size(), QSize(1920, 1080));
    EXPECT_TRUE(got == want);
    // Ink of both colours is in the file.
    bool white = false, green = false;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x) {
            white = white || got.pixel(x, y) == 0xFFFFFFFFu;
            green = green || got.pixel(x, y) == 0xFF00FF00u;
        }
    EXPECT_TRUE(white);
    EXPECT_TRUE(green);
}

}  // namespace
