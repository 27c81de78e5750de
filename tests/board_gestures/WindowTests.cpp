// The whiteboard window of the terminal: opened by the main window (a second
// opening shows the same window), and as a process with "--whiteboard": its
// page on screen, Ctrl+S, and closing it while the terminal keeps running.
// Runs in a network namespace of its own (the terminal binds its ports).
#include "BoardForm.h"
#include "BoardWidget.h"
#include "MainWindow.h"
#include "TestSupport.h"
#include "XDelete.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

using namespace tsupport;

namespace {

QList<BoardForm*> boardForms()
{
    QList<BoardForm*> forms;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<BoardForm*>(w))
            forms << f;
    return forms;
}

TEST(BoardWindow, SecondOpeningShowsTheSameWindow)
{
    TeamDir dir("127.0.0.2", 3);
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    {
        MainWindow w;
        ASSERT_TRUE(boardForms().isEmpty());
        w.startBtnClick();
        QList<BoardForm*> forms = boardForms();
        ASSERT_EQ(forms.size(), 1);
        BoardForm* form = forms[0];
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(form->windowType(), Qt::Window);
        EXPECT_EQ(form->parent(), nullptr);
        BoardWidget* board = boardWidget;
        ASSERT_NE(board, nullptr);
        EXPECT_EQ(pages.size(), 1u);

        w.startBtnClick();
        EXPECT_EQ(boardForms().size(), 1);
        EXPECT_EQ(boardWidget, board);
        EXPECT_EQ(pages.size(), 1u);

        // Closed, then opened again: the same window with the same pages.
        form->close();
        EXPECT_FALSE(form->isVisible());
        w.startBtnClick();
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(boardForms().size(), 1);
        EXPECT_EQ(pages.size(), 1u);
        form->hide();
    }
    QDir::setCurrent(old);
}

TEST(BoardWindow, WhiteboardOptionOpensItAtStart)
{
    XServer xs(1920, 1080);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 2);
    Terminal t(dir.path(), xs.env(), {"--whiteboard"});
    ASSERT_TRUE(t.started());

    auto win = waitForWindow(xs.env(), "Form", SLOW_MS);
    ASSERT_TRUE(win.has_value()) << t.err().toStdString();
    EXPECT_EQ(win->width, 1109);
    EXPECT_EQ(win->height, 641);
    EXPECT_EQ(windowsNamed(xs.env(), "Form").size(), 1);

    // The first page: green between the lines of the large field grid.
    QImage shot;
    QDeadlineTimer painted(SLOW_MS);
    do {
        shot = screenshot(xs.env(), win->id);
        if (!shot.isNull() && shot.pixel(30, 600) == 0xFF274143u)
            break;
        pause(100);
    } while (!painted.hasExpired());
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.pixel(30, 600), 0xFF274143u);  // below the toolbar
    EXPECT_EQ(shot.pixel(1000, 600), 0xFF274143u);

    // Ctrl+S writes the page into the board folder, "boards" under the
    // working directory, and names the file.
    // A key that reaches a busy terminal before its window has the keyboard
    // focus is lost, so it is pressed again until the line comes.
    run("xdotool", {"mousemove", "--window", win->id, "500", "300"}, xs.env());
    run("xdotool", {"windowfocus", "--sync", win->id}, xs.env());
    QDeadlineTimer saved(SLOW_MS);
    do
        run("xdotool", {"key", "ctrl+s"}, xs.env());
    while (!t.waitForOutput("SavePage: ", 5000) && !saved.hasExpired());
    // The line is written whole; wait for its end.
    const QRegularExpression re("SavePage: (\\S+\\.png)\n");
    QRegularExpressionMatch m;
    QDeadlineTimer line(SLOW_MS);
    while (!(m = re.match(QString::fromLocal8Bit(t.out()))).hasMatch() && !line.hasExpired())
        pause(50);
    ASSERT_TRUE(m.hasMatch()) << t.out().toStdString();
    const QString file = m.captured(1);
    EXPECT_EQ(QFileInfo(file).absolutePath(), QFileInfo(dir.path()).canonicalFilePath() + "/boards");
    QImage page(file);
    ASSERT_FALSE(page.isNull()) << file.toStdString();
    EXPECT_EQ(page.size(), QSize(1109, 641));  // an empty page exports at the view's size
    EXPECT_EQ(page.pixel(30, 30), 0xFF274143u);

    // Closing the whiteboard leaves the terminal running and announcing.
    const int before = t.countOutput("SendTo: 127.0.0.2\n");
    ASSERT_TRUE(requestWindowClose(xs.display().toStdString(), win->id.toStdString()));
    EXPECT_TRUE(waitForNoWindow(xs.env(), "Form", SLOW_MS));
    EXPECT_TRUE(t.waitForCount("SendTo: 127.0.0.2\n", before + 2, SLOW_MS));
    EXPECT_TRUE(t.running());
    EXPECT_TRUE(t.quitViaTray());
    EXPECT_EQ(t.exitCode(), 0) << t.err().toStdString();
    EXPECT_FALSE(t.crashed());
}

TEST(BoardWindow, NoWhiteboardWithoutTheOption)
{
    XServer xs(1920, 1080);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 2);
    Terminal t(dir.path(), xs.env());
    ASSERT_TRUE(t.started());
    ASSERT_TRUE(t.waitForOutput("SendTo: 127.0.0.2\n", SLOW_MS)) << t.err().toStdString();
    EXPECT_TRUE(windowsNamed(xs.env(), "Form").isEmpty());
    EXPECT_TRUE(t.quitViaTray());
}


// Whether the window shows the white stroke drawn below at (550, 450).
bool inkShown(const QProcessEnvironment& env, const QString& id)
{
    const QImage shot = screenshot(env, id);
    if (shot.isNull() || shot.width() <= 550 || shot.height() <= 450)
        return false;
    const QRgb p = shot.pixel(550, 450);
    return qRed(p) > 220 && qGreen(p) > 220 && qBlue(p) > 220;
}

// Polls until the window named "Form" has the given size.
bool waitForSize(const QProcessEnvironment& env, int width, int height, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        const QList<WindowInfo> wins = windowsNamed(env, "Form");
        if (wins.size() == 1 && wins[0].width == width && wins[0].height == height)
            return true;
        pause(100);
    } while (!deadline.hasExpired());
    return false;
}

// The toolbar's full-screen button on a real X server without a window
// manager: the window fills the screen and comes back, with its ink.
TEST(BoardWindow, FullScreenFromTheToolbarKeepsTheInk)
{
    XServer xs(1920, 1080);
    ASSERT_TRUE(xs.ok());
    TeamDir dir("127.0.0.2", 2);
    Terminal t(dir.path(), xs.env(), {"--whiteboard"});
    ASSERT_TRUE(t.started());
    auto win = waitForWindow(xs.env(), "Form", SLOW_MS);
    ASSERT_TRUE(win.has_value()) << t.err().toStdString();
    const QString id = win->id;

    // A stroke with the left button, until it shows (a press that comes
    // before the window is ready is lost, so the stroke is drawn again).
    QDeadlineTimer drawn(SLOW_MS);
    do {
        run("xdotool", {"mousemove", "--window", id, "300", "450", "mousedown", "1"}, xs.env());
        for (int x = 320; x <= 800; x += 20)
            run("xdotool", {"mousemove", "--window", id, QString::number(x), "450"}, xs.env());
        run("xdotool", {"mouseup", "1"}, xs.env());
        pause(200);
    } while (!inkShown(xs.env(), id) && !drawn.hasExpired());
    ASSERT_TRUE(inkShown(xs.env(), id));

    // The full-screen button: the last of two rows of 15 along the top edge
    // (1086 pixels wide), centred in the 1109 pixel wide window.
    run("xdotool", {"mousemove", "--window", id, "1058", "111", "click", "1"}, xs.env());
    EXPECT_TRUE(waitForSize(xs.env(), 1920, 1080, SLOW_MS));
    QDeadlineTimer repainted(SLOW_MS);
    while (!inkShown(xs.env(), id) && !repainted.hasExpired())
        pause(100);
    EXPECT_TRUE(inkShown(xs.env(), id));

    // Again, now in the middle of the screen's width: the window comes back
    // (the same toggle as F11, which the in-process tests press).
    run("xdotool", {"mousemove", "--window", id, "1464", "111", "click", "1"}, xs.env());
    EXPECT_TRUE(waitForSize(xs.env(), 1109, 641, SLOW_MS));
    QDeadlineTimer repainted2(SLOW_MS);
    while (!inkShown(xs.env(), id) && !repainted2.hasExpired())
        pause(100);
    EXPECT_TRUE(inkShown(xs.env(), id));

    EXPECT_TRUE(t.quitViaTray());
    EXPECT_FALSE(t.crashed());
}

}  // namespace
