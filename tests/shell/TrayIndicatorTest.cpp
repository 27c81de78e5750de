// The tray's "screen is being watched" state, driven by a fake count source.
#include "TrayIndicator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QImage>
#include <QPainter>
#include <QSystemTrayIcon>
#include <atomic>
#include <gtest/gtest.h>

namespace {

const int SLOW_MS = 60000;

QIcon plainIcon()
{
    QPixmap pix(64, 64);
    pix.fill(QColor(0x30, 0x60, 0x90));
    return QIcon(pix);
}

QImage image(const QIcon& icon)
{
    return icon.pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32);
}

bool waitUntil(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(SLOW_MS);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

class TrayIndicatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tray.setIcon(plainIcon());
        tray.setToolTip("Tavlo");
    }
    QSystemTrayIcon tray;
    std::atomic<int> count{0};
};

TEST_F(TrayIndicatorTest, IconAndToolTipFollowTheCount)
{
    const QImage normal = image(tray.icon());
    TrayIndicator ind(&tray, [this] { return count.load(); });
    ind.poll();
    EXPECT_FALSE(ind.watched());
    EXPECT_EQ(tray.toolTip(), "Tavlo");
    EXPECT_EQ(image(tray.icon()), normal);

    count = 2;
    ind.poll();
    EXPECT_TRUE(ind.watched());
    EXPECT_EQ(tray.toolTip(), TrayIndicator::watchedToolTip(2));
    EXPECT_NE(tray.toolTip(), "Tavlo");
    const QImage watched = image(tray.icon());
    EXPECT_NE(watched, normal);
    // The red dot in the lower right corner; the upper left is the icon's own.
    const QColor dot = watched.pixelColor(48, 48);
    EXPECT_GT(dot.red(), 0xc0);
    EXPECT_LT(dot.green(), 0x40);
    EXPECT_EQ(watched.pixelColor(8, 8), normal.pixelColor(8, 8));

    count = 1;  // still watched: the tooltip follows the number
    ind.poll();
    EXPECT_EQ(tray.toolTip(), TrayIndicator::watchedToolTip(1));
    EXPECT_EQ(image(tray.icon()), watched);

    count = 0;
    ind.poll();
    EXPECT_FALSE(ind.watched());
    EXPECT_EQ(tray.toolTip(), "Tavlo");
    EXPECT_EQ(image(tray.icon()), normal);

    count = -1;  // a source that misreports: not watched
    ind.poll();
    EXPECT_FALSE(ind.watched());
}

// The console's thumbnails are no watching: no dot, a plain line; being
// shown beside them says both.
TEST_F(TrayIndicatorTest, TheConsoleLookingIsSaidApartFromBeingWatched)
{
    const QImage normal = image(tray.icon());
    std::atomic<int> lookers{0};
    TrayIndicator ind(&tray, [this] { return count.load(); }, [&] { return lookers.load(); });
    lookers = 1;
    ind.poll();
    EXPECT_FALSE(ind.watched());
    EXPECT_EQ(image(tray.icon()), normal);
    EXPECT_EQ(tray.toolTip(), QString::fromUtf8("老师正在查看"));

    count = 3;
    ind.poll();
    EXPECT_TRUE(ind.watched());
    EXPECT_NE(image(tray.icon()), normal);
    EXPECT_EQ(tray.toolTip(), TrayIndicator::watchedToolTip(3) + "\n" + QString::fromUtf8("老师正在查看"));

    lookers = 0;
    ind.poll();
    EXPECT_EQ(tray.toolTip(), TrayIndicator::watchedToolTip(3));
    count = 0;
    ind.poll();
    EXPECT_EQ(tray.toolTip(), "Tavlo");
    EXPECT_EQ(image(tray.icon()), normal);
}

TEST_F(TrayIndicatorTest, PollsByItselfOnceStarted)
{
    TrayIndicator ind(&tray, [this] { return count.load(); });
    ind.start();
    EXPECT_FALSE(ind.watched());
    count = 1;
    EXPECT_TRUE(waitUntil([&] { return tray.toolTip() == TrayIndicator::watchedToolTip(1); }));
    count = 0;
    EXPECT_TRUE(waitUntil([&] { return tray.toolTip() == "Tavlo"; }));
    EXPECT_FALSE(ind.watched());
}

TEST_F(TrayIndicatorTest, WatchedIconWithoutAPictureIsStillADot)
{
    const QImage img = image(TrayIndicator::watchedIcon(QIcon()));
    ASSERT_FALSE(img.isNull());
    EXPECT_GT(img.pixelColor(48, 48).red(), 0xc0);
    EXPECT_EQ(img.pixelColor(4, 4).alpha(), 0);
}

}  // namespace
