// The terminal with "--whiteboard FILE": the board saved in FILE on screen, a
// file it cannot read named on stdout and left as it was, and the ink of a
// board quit from the tray on disk. Runs in a network namespace of its own
// (the terminal binds its ports).
#include "../board/BoardTestUtil.h"
#include "BoardFile.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sys/stat.h>

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
    // Below the toolbar, beside where a message box would stand.
    EXPECT_EQ(pixelWhen(xs.env(), win->id, 30, 600, 0xFFFFFFFFu), 0xFFFFFFFFu);
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
    EXPECT_EQ(pixelWhen(xs.env(), win->id, 30, 600, 0xFF274143u), 0xFF274143u);

    // Ink drawn now is saved into a file of its own; quitting from the tray
    // right after the pen-up still gets it onto disk.
    // (Near the bottom: the toolbar is at the top and the message box in
    // the middle of the window.)
    run("xdotool", {"mousemove", "--window", win->id, "40", "560"}, xs.env());
    run("xdotool", {"mousedown", "1"}, xs.env());
    for (int i = 1; i <= 10; ++i)
        run("xdotool", {"mousemove", "--window", win->id, QString::number(40 + 20 * i), "570"}, xs.env());
    run("xdotool", {"mouseup", "1"}, xs.env());
    EXPECT_TRUE(t.quitViaTray());
    EXPECT_EQ(t.exitCode(), 0) << t.err().toStdString();
    EXPECT_FALSE(t.crashed());
    EXPECT_EQ(bytesOf(file), junk);
    // In the board folder, "boards" under the working directory.
    const QDir boards(dir.file("boards"));
    const QStringList saved = boards.entryList(QStringList{"board-*.tvboard"}, QDir::Files);
    ASSERT_EQ(saved.size(), 1) << t.out().toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList(QStringList{"board-*"}, QDir::Files).isEmpty());
    BoardFile::Contents c;
    QString err;
    ASSERT_TRUE(BoardFile::read(boards.filePath(saved[0]), c, &err)) << err.toStdString();
    ASSERT_EQ(c.pages.size(), 1u);
    EXPECT_EQ(c.pages[0]->strokes.size(), 1u);
}

TEST(WhiteboardOption, AFifoNeitherHoldsTheBoardNorTheTerminal)
{
    XServer xs(1920, 1080);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 2);
    const QString fifo = dir.file("lesson.tvboard");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    Terminal t(dir.path(), xs.env(), {"--whiteboard", fifo});
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(t.waitForOutput("OpenBoard FAILED: " + fifo + ": not a regular file", SLOW_MS)) << t.out().toStdString();
    auto win = waitForWindow(xs.env(), "Form", SLOW_MS);
    ASSERT_TRUE(win.has_value());
    // The board takes ink: a stroke near the bottom (the toolbar is at the
    // top, the message box in the middle) reaches the board file.
    run("xdotool", {"mousemove", "--window", win->id, "40", "560"}, xs.env());
    run("xdotool", {"mousedown", "1"}, xs.env());
    for (int i = 1; i <= 10; ++i)
        run("xdotool", {"mousemove", "--window", win->id, QString::number(40 + 20 * i), "570"}, xs.env());
    run("xdotool", {"mouseup", "1"}, xs.env());
    EXPECT_TRUE(t.waitForOutput("BoardFile: ", SLOW_MS)) << t.out().toStdString();
    EXPECT_TRUE(t.quitViaTray());
    EXPECT_EQ(t.exitCode(), 0) << t.err().toStdString();
}

TEST(WhiteboardOption, APdfOpensAsPagesToWriteOn)
{
    XServer xs(1920, 1080);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 2);
    const QString pdf = dir.file("lesson.pdf");
    ASSERT_TRUE(btest::makePdf(pdf, {QColor(200, 30, 30), QColor(30, 30, 200)}, QSizeF(720, 405)));

    Terminal t(dir.path(), xs.env(), {"--whiteboard", pdf});
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(t.waitForOutput("OpenDocument: " + pdf + " (2 pages)\n", SLOW_MS)) << t.out().toStdString();
    auto win = waitForWindow(xs.env(), "Form", SLOW_MS);
    ASSERT_TRUE(win.has_value());
    // The first page fills the window's width: red at the middle of the
    // board (a slide of 1920 x 1080 units in the 1109 x 641 window).
    const QImage shot = [&] {
        QImage s;
        QDeadlineTimer d(SLOW_MS);
        do {
            s = screenshot(xs.env(), win->id);
            if (!s.isNull() && qRed(s.pixel(s.width() / 2, s.height() / 2 - 40)) > 150)
                break;
            pause(100);
        } while (!d.hasExpired());
        return s;
    }();
    ASSERT_FALSE(shot.isNull());
    const QRgb mid = shot.pixel(shot.width() / 2, shot.height() / 2 - 40);
    EXPECT_GT(qRed(mid), 150);
    EXPECT_LT(qBlue(mid), 80);
    // The board file refers to the PDF page by page.
    EXPECT_TRUE(t.waitForOutput("BoardFile: ", SLOW_MS)) << t.out().toStdString();
    EXPECT_TRUE(t.quitViaTray());
    EXPECT_EQ(t.exitCode(), 0) << t.err().toStdString();
    const QDir boards(dir.file("boards"));
    const QStringList saved = boards.entryList(QStringList{"board-*.tvboard"}, QDir::Files);
    ASSERT_EQ(saved.size(), 1);
    BoardFile::Contents c;
    QString err;
    ASSERT_TRUE(BoardFile::read(boards.filePath(saved[0]), c, &err)) << err.toStdString();
    ASSERT_EQ(c.pages.size(), 2u);
    EXPECT_EQ(c.pages[1]->bkgFile, pdf);
    EXPECT_EQ(c.pages[1]->bkgPage, 1);
}

// The terminal started at login reads its configuration from a folder of its
// own and has no working directory to write into: the board goes to the
// user's data folder, nothing into the working directory.
TEST(WhiteboardOption, WithAConfigurationFolderTheBoardGoesToTheUsersDataFolder)
{
    XServer xs(1920, 1080);
    ASSERT_TRUE(xs.ok());
    TeamDir work("127.0.0.2", 2);
    TeamDir config("127.0.0.2", 3);
    const QString data = config.file("data");
    QProcessEnvironment env = xs.env();
    env.insert("XDG_DATA_HOME", data);
    const QString pdf = work.file("lesson.pdf");
    ASSERT_TRUE(btest::makePdf(pdf, {QColor(200, 30, 30)}, QSizeF(720, 405)));

    Terminal t(work.path(), env, {"--config-dir", config.path(), "--whiteboard", pdf});
    ASSERT_TRUE(t.started());
    const QString folder = data + "/tavlo/boards/";
    EXPECT_TRUE(t.waitForOutput("BoardFile: " + folder + "board-", SLOW_MS)) << t.out().toStdString();
    EXPECT_TRUE(t.quitViaTray());
    EXPECT_EQ(t.exitCode(), 0) << t.err().toStdString();
    EXPECT_EQ(QDir(folder).entryList(QStringList{"board-*.tvboard"}, QDir::Files).size(), 1);
    EXPECT_FALSE(QDir(work.file("boards")).exists());
}
