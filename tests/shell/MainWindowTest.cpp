// The main window in-process: mouse events are not handled and the start-up
// picture is painted over the whole window.
#include "MainWindow.h"
#include "QSysConfig.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <gtest/gtest.h>

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        old = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
    }
    void TearDown() override { QDir::setCurrent(old); }
    tsupport::TeamDir dir{"127.0.0.2", 4};
    QString old;
};

TEST_F(MainWindowTest, ReadsTheWorkingDirectorysConfiguration)
{
    MainWindow w;
    ASSERT_NE(SysConfig, nullptr);
    EXPECT_EQ(SysConfig->RoomIp, "127.0.0.2");
    EXPECT_EQ(SysConfig->TeamNum, 4u);
    EXPECT_EQ(SysConfig->parent(), &w);
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("澄屿多屏管理系统-小组"));
    EXPECT_EQ(w.windowFlags(), Qt::Dialog | Qt::FramelessWindowHint);
    ASSERT_NE(w.centralWidget(), nullptr);
    EXPECT_EQ(w.centralWidget()->objectName(), "centralwidget");
    EXPECT_EQ(w.objectName(), "MainWindow");
}

TEST_F(MainWindowTest, MouseEventsAreNotHandled)
{
    MainWindow w;
    const QPointF p(10, 10);
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                              QEvent::MouseMove}) {
        QMouseEvent e(type, p, p, p, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        EXPECT_FALSE(QApplication::sendEvent(&w, &e)) << type;
    }
    // Other events still reach the widget handling.
    QEvent show(QEvent::Polish);
    EXPECT_TRUE(QApplication::sendEvent(&w, &show));
}

TEST_F(MainWindowTest, PaintsTheStartUpPictureStretched)
{
    MainWindow w;
    const QImage picture(QString::fromUtf8(":/res/启动页面.png"));
    ASSERT_FALSE(picture.isNull());
    const QImage shown = w.grab().toImage();
    ASSERT_EQ(shown.size(), w.size());
    const QImage expected = picture.scaled(w.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Compare a grid of points, allowing for the smoothing of the stretch.
    int far = 0;
    for (int y = 5; y < shown.height(); y += shown.height() / 9)
        for (int x = 5; x < shown.width(); x += shown.width() / 13) {
            const QColor a = shown.pixelColor(x, y), b = expected.pixelColor(x, y);
            if (std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 24)
                ++far;
        }
    EXPECT_EQ(far, 0);
}
