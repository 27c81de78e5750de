// The console's widgets offscreen, without a network: what a tile says for a
// group (gone, duplicate number, what it shows), its menu of other groups,
// and a refusal reaching the window's status line.
#include "Console.h"
#include "ConsoleWindow.h"
#include "GroupTile.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

GroupRow row(int group, const char* address, bool gone = false, bool duplicate = false,
             std::optional<int> showing = std::nullopt)
{
    GroupRow r;
    r.group = group;
    r.address = QHostAddress(address);
    r.livePort = 5000;
    r.ageMs = gone ? 6000 : 1200;
    r.gone = gone;
    r.duplicate = duplicate;
    r.showing = showing;
    return r;
}

QStringList labels(const QWidget& w)
{
    QStringList out;
    for (const QLabel* l : w.findChildren<QLabel*>())
        out << l->text();
    return out;
}

TEST(GroupTile, SaysWhatTheRowSays)
{
    Console console;
    GroupTile tile(&console);
    tile.setRow(row(3, "10.0.0.3", false, false, 2), {1, 2, 3});
    QStringList text = labels(tile);
    EXPECT_TRUE(text.contains("Group 3"));
    EXPECT_TRUE(text.contains("10.0.0.3:5000, 1 s ago"));
    EXPECT_TRUE(text.contains("shows group 2"));
    EXPECT_TRUE(tile.isEnabled());
    // The menu offers the other present groups, not this one.
    const QComboBox* menu = tile.findChild<QComboBox*>();
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->count(), 3);
    EXPECT_EQ(menu->itemData(1).toInt(), 1);
    EXPECT_EQ(menu->itemData(2).toInt(), 2);

    tile.setRow(row(3, "10.0.0.3", true, false), {1, 2});
    text = labels(tile);
    EXPECT_TRUE(text.contains("Group 3  (gone)"));
    EXPECT_TRUE(text.contains("shows nothing"));
    EXPECT_FALSE(tile.isEnabled());  // no commands for a gone group

    tile.setRow(row(3, "10.0.0.3", false, true, 0), {1, 2, 3});
    EXPECT_TRUE(labels(tile).contains("Group 3  DUPLICATE NUMBER"));
    EXPECT_TRUE(labels(tile).contains("shows the teacher"));
}

TEST(GroupTile, ThumbnailOrTheReasonForNone)
{
    Console console;
    GroupTile tile(&console);
    tile.setThumbnail(QImage(), "cannot open: Connection refused, retrying");
    EXPECT_TRUE(labels(tile).contains("cannot open: Connection refused, retrying"));
    QImage img(Console::THUMB_W, Console::THUMB_H, QImage::Format_RGB888);
    img.fill(Qt::red);
    tile.setThumbnail(img, QString());
    EXPECT_FALSE(labels(tile).contains("cannot open: Connection refused, retrying"));
}

TEST(ConsoleWindow, RefusedCommandIsShownInTheStatusLine)
{
    Console console;
    ConsoleWindow window(&console);
    QPushButton* teacherAll = nullptr;
    for (QPushButton* b : window.findChildren<QPushButton*>())
        if (b->text() == "Teacher to all")
            teacherAll = b;
    ASSERT_NE(teacherAll, nullptr);
    teacherAll->click();  // no group is present
    EXPECT_TRUE(labels(window).contains("error: no group is present"));
}

}  // namespace
