// The terminal with "--whiteboard FILE": the board saved in FILE on screen, a
// file it cannot read named on stdout and left as it was, and the ink of a
// board quit from the tray on disk. Runs in a network namespace of its own
// (the terminal binds its ports).
#include "BoardFile.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

using namespace tsupport;

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// The pixel at (x, y) of the window once it has the colour wanted (or the
// last one seen after SLOW_MS).
QRgb pixelWhen(const QProcessEnvironment& env, const QString& win, int x, int y, QRgb want)
{
    QRgb last = 0;
    QDeadlineTimer t(SLOW_MS);
    do {
        const QImage shot = screenshot(env, win);
        if (!shot.isNull() && (last = shot.pixel(x, y)) == want)
            return last;
        pause(100);
    } while (!t.hasExpired());
    return last;
}

}  // namespace

TEST(WhiteboardOption, OpensTheBoardOfTheFileGiven)
{
    XServer xs(1920, 1080);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 2);
    // One white page without a grid, one green page.
    std::vector<Page*> board{new Page(QString(), BT_WHITE, 0, 0), new Page(QString(), BT_GREEN, 1, 2)};
    const QByteArray bytes = BoardFile::encode(board, 0, BT_GREEN);
    for (Page* p : board)
        delete p;
    const QString file = dir.file("lesson.tvboard");
    writeBytes(file, bytes);

    Terminal t(dir.path(), xs.env(), {"--whiteboard", file});
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(t.waitForOutput("OpenBoard: " + file + "\n", SLOW_MS)) << t.out().toStdString();
    auto win = waitForWindow(xs.env(), "Form", SLOW_MS);
    ASSERT_TRUE(win.has_value());
    EXPECT_EQ(pixelWhen(xs.env(), win->id, 30, 30, 0xFFFFFFFFu), 0xFFFFFFFFu);
    EXPECT_TRUE(t.quitViaTray());
    EXPECT_EQ(t.exitCode(), 0) << t.err().toStdString();
    EXPECT_EQ(bytesOf(file), bytes);
}

TEST(WhiteboardOption, UnreadableFileGivesAnEmptyBoardAndStaysAsItWas)
{
    XServer xs(1920, 1080);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 2);
    const QString file = dir.file("broken.tvboard");
    static const char JUNK[] = "TAVLOBRD\x01\x00\x00\x00 not much more";
    const QByteArray junk(JUNK, sizeof JUNK - 1);
    writeBytes(file, junk);

    Terminal t(dir.path(), xs.env(), {"--whiteboard", file});
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(t.waitForOutput("OpenBoard FAILED: " + file + ": damaged", SLOW_MS)) << t.out().toStdString();
    auto win = waitForWindow(xs.env(), "Form", SLOW_MS);
    ASSERT_TRUE(win.has_value());
    // The empty first page: green.
    EXPECT_EQ(pixelWhen(xs.env(), win->id, 30, 30, 0xFF274143u), 0xFF274143u);

    // Ink drawn now is saved into a file of its own; quitting from the tray
    // right after the pen-up still gets it onto disk.
    // (Near the top: the message box stands in the middle of the window.)
    run("xdotool", {"mousemove", "--window", win->id, "40", "60"}, xs.env());
    run("xdotool", {"mousedown", "1"}, xs.env());
    for (int i = 1; i <= 10; ++i)
        run("xdotool", {"mousemove", "--window", win->id, QString::number(40 + 20 * i), "70"}, xs.env());
    run("xdotool", {"mouseup", "1"}, xs.env());
    EXPECT_TRUE(t.quitViaTray());
    EXPECT_EQ(t.exitCode(), 0) << t.err().toStdString();
    EXPECT_FALSE(t.crashed());
    EXPECT_EQ(bytesOf(file), junk);
    const QStringList saved = QDir(dir.path()).entryList(QStringList{"board-*.tvboard"}, QDir::Files);
    ASSERT_EQ(saved.size(), 1) << t.out().toStdString();
    BoardFile::Contents c;
    QString err;
    ASSERT_TRUE(BoardFile::read(dir.file(saved[0]), c, &err)) << err.toStdString();
    ASSERT_EQ(c.pages.size(), 1u);
    EXPECT_EQ(c.pages[0]->strokes.size(), 1u);
}
