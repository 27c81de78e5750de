#ifndef TAVLO_BOARDTESTSUPPORT_H
#define TAVLO_BOARDTESTSUPPORT_H

// Helpers for driving the real board widget in-process: a fresh board state
// per test, a clock the test sets, touch and mouse events built point by
// point, and a marker pixel that tells whether the layers were re-rendered.

#include "BoardTestUtil.h"
#include "BoardWidget.h"

#include <QApplication>
#include <QColor>
#include <QElapsedTimer>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTouchEvent>
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <vector>

namespace boardtest {

// The time the board's input handlers see, in ms.
inline long& now()
{
    static long value = 100000;
    return value;
}

inline long fakeClock()
{
    return now();
}

// Everything back to the state at program start (pages released).
using btest::resetBoardState;

// Lets queued work run until no spring-back is left (at most timeoutMs, a
// bound that only turns a hang into a failure).
inline bool waitForSpringBacks(int timeoutMs = 60000)
{
    QElapsedTimer t;
    t.start();
    while (runningSpringBacks() > 0 && t.elapsed() < timeoutMs)
        QTest::qWait(10);
    QCoreApplication::processEvents();
    return runningSpringBacks() == 0;
}

struct Finger {
    int id;
    Qt::TouchPointState state;
    QPointF pos;
};

inline QTouchDevice* touchScreen()
{
    static QTouchDevice* dev = QTest::createTouchDevice(QTouchDevice::TouchScreen);
    return dev;
}

// Sends one touch event holding every current point; the type follows from
// the states (all pressed: begin, all released: end, otherwise update).
inline bool touch(QWidget* w, const std::vector<Finger>& fingers, QEvent::Type type = QEvent::None)
{
    QList<QTouchEvent::TouchPoint> list;
    Qt::TouchPointStates states;
    bool allPressed = true, allReleased = true;
    const QPointF origin = w->mapToGlobal(QPoint(0, 0));
    for (const Finger& f : fingers) {
        QTouchEvent::TouchPoint tp(f.id);
        tp.setState(f.state);
        tp.setPos(f.pos);
        tp.setScreenPos(origin + f.pos);
        tp.setStartPos(f.pos);
        list << tp;
        states |= f.state;
        allPressed = allPressed && f.state == Qt::TouchPointPressed;
        allReleased = allReleased && f.state == Qt::TouchPointReleased;
    }
    if (type == QEvent::None)
        type = allPressed ? QEvent::TouchBegin : allReleased ? QEvent::TouchEnd : QEvent::TouchUpdate;
    QTouchEvent ev(type, touchScreen(), Qt::NoModifier, states, list);
    ev.setWindow(w->windowHandle());
    ev.setTarget(w);
    const bool handled = QApplication::sendEvent(w, &ev);
    return handled && ev.isAccepted();
}

inline Finger pressed(int id, QPointF p) { return {id, Qt::TouchPointPressed, p}; }
inline Finger moved(int id, QPointF p) { return {id, Qt::TouchPointMoved, p}; }
inline Finger still(int id, QPointF p) { return {id, Qt::TouchPointStationary, p}; }
inline Finger released(int id, QPointF p) { return {id, Qt::TouchPointReleased, p}; }

inline void mouse(QWidget* w, QEvent::Type type, QPointF p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent ev(type, p, p, w->mapToGlobal(QPoint(0, 0)) + p, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

// A magenta marker pixel at (1, 1) of the stroke layer: a re-render fills
// the layer with transparency and takes it away.
inline void markStrokeLayer()
{
    QPainter p(strokeBmp);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(QRect(1, 1, 1, 1), QColor(255, 0, 255));
}

inline bool strokeLayerMarked()
{
    return strokeBmp->toImage().pixel(1, 1) == qRgb(255, 0, 255);
}

// Non-transparent pixels of the stroke layer inside rect.
inline int inkPixels(const QRect& rect)
{
    const QImage img = strokeBmp->toImage().convertToFormat(QImage::Format_ARGB32);
    int count = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            count += qAlpha(img.pixel(x, y)) != 0;
    return count;
}

// Opens a new page with a plain w x h background image of colour rgb,
// written into dir; false when the image could not be written or loaded.
inline bool newImagePage(BoardWidget* board, const QTemporaryDir& dir, int w, int h, QRgb rgb)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(rgb);
    const QString path = dir.filePath(QString("bkg-%1x%2.png").arg(w).arg(h));
    if (!img.save(path))
        return false;
    board->newPage(path, true);
    return bkgBmp != nullptr;
}

// A shown board widget of w x h on a fresh board with its first page.
class BoardTest : public ::testing::Test {
protected:
    void SetUp() override { build(1920, 1080); }

    void build(int width, int height)
    {
        resetBoardState();
        boardClock = fakeClock;
        board = new BoardWidget();
        board->newPage(QString(), true);
        board->resize(width, height);
        board->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(board, 60000));
        QCoreApplication::processEvents();
        ASSERT_EQ(VIEW_WIDTH, width);
        ASSERT_EQ(VIEW_HEIGHT, height);
    }

    void TearDown() override
    {
        EXPECT_TRUE(waitForSpringBacks());
        delete board;
        board = nullptr;
        resetBoardState();
    }

    // A one-finger stroke from a to b in steps of 10 view pixels.
    void fingerStroke(QPointF a, QPointF b)
    {
        touch(board, {pressed(0, a)});
        const QPointF d = b - a;
        const int steps = std::max(1, static_cast<int>(std::hypot(d.x(), d.y()) / 10));
        for (int i = 1; i <= steps; ++i) {
            now() += 8;
            touch(board, {moved(0, a + d * (double(i) / steps))});
        }
        now() += 8;
        touch(board, {released(0, b)});
        now() += 1000;
    }

    BoardWidget* board = nullptr;
};

}  // namespace boardtest

#endif
