#include "QImgBtn.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QPixmap solid(QColor c)
{
    QPixmap p(70, 70);
    p.fill(c);
    return p;
}

// The colour of the icon that the button shows now.
QRgb shownColour(const QImgBtn& b)
{
    return b.icon().pixmap(70, 70).toImage().pixel(35, 35);
}

}  // namespace

class ImgBtn : public ::testing::Test {
protected:
    QPixmap normal = solid(Qt::red), hover = solid(Qt::green), pressed = solid(Qt::blue);
    QPixmap* row[3] = {&normal, &hover, &pressed};
};

TEST_F(ImgBtn, FreshButtonShowsNormalPictureWithoutFrame)
{
    QImgBtn b(nullptr, row);
    EXPECT_EQ(b.pixmap, row);
    EXPECT_EQ(b.iconSize(), QSize(70, 70));
    EXPECT_TRUE(b.isFlat());
    EXPECT_EQ(b.windowFlags(), Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(b.testAttribute(Qt::WA_TranslucentBackground));
    EXPECT_EQ(shownColour(b), QColor(Qt::red).rgb());
    EXPECT_EQ(b.icons[3], nullptr);
}

TEST_F(ImgBtn, PressReleaseLeaveCycleThroughPictures)
{
    QImgBtn b(nullptr, row);
    b.resize(80, 80);
    b.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&b, 60000));
    QSignalSpy clicked(&b, &QPushButton::clicked);

    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&b, &enter);
    EXPECT_EQ(shownColour(b), QColor(Qt::green).rgb());

    QTest::mousePress(&b, Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
    EXPECT_EQ(shownColour(b), QColor(Qt::blue).rgb());
    EXPECT_TRUE(b.isDown());

    QTest::mouseRelease(&b, Qt::LeftButton, Qt::NoModifier, QPoint(40, 40));
    EXPECT_EQ(shownColour(b), QColor(Qt::green).rgb());
    EXPECT_EQ(clicked.count(), 1);

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&b, &leave);
    EXPECT_EQ(shownColour(b), QColor(Qt::red).rgb());
}

TEST_F(ImgBtn, IconsKeepTheirOwnCopies)
{
    QImgBtn b(nullptr, row);
    normal.fill(Qt::yellow);  // the row is not read after construction
    EXPECT_EQ(shownColour(b), QColor(Qt::red).rgb());
}
