#ifndef TAVLO_BOARDTESTUTIL_H
#define TAVLO_BOARDTESTUTIL_H

// Shared helpers of the drawing-surface tests: a board widget of a chosen
// size on a freshly reset board state, pixel helpers, and a paint device
// that records every pixmap the renderers stamp.

#include "BoardWidget.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPaintEngine>
#include <QPainter>
#include <QPdfWriter>
#include <QResizeEvent>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace btest {

// Puts the board state back to its start values, releasing pages (and the
// undo history of any board widget); the layers of a widget that still
// exists are kept.
using ::resetBoardState;

// The board state and the layers back to program start.
inline void resetBoard()
{
    resetBoardState();
    delete strokeCvs;
    delete strokeBmp;
    delete winCvs;
    delete winBmp;
    strokeCvs = winCvs = nullptr;
    strokeBmp = winBmp = nullptr;
    VIEW_WIDTH = VIEW_HEIGHT = 0;
}

// Resizes the widget and delivers the resize event at once, as a shown
// widget would get it.
inline void resizeBoard(BoardWidget* w, int width, int height)
{
    const QSize old = w->size();
    w->resize(width, height);
    QResizeEvent ev(QSize(width, height), old);
    QCoreApplication::sendEvent(w, &ev);
    w->setAttribute(Qt::WA_PendingResizeEvent, false);
}

class BoardTest : public ::testing::Test {
protected:
    void SetUp() override { resetBoard(); }
    void TearDown() override
    {
        board.reset();
        resetBoard();
    }

    // A board widget with the given view size, with or without a first page.
    BoardWidget* makeBoard(int width, int height, bool withPage = true)
    {
        board.reset(new BoardWidget());
        resizeBoard(board.get(), width, height);
        if (withPage)
            board->newPage(QString(), true);
        return board.get();
    }

    std::unique_ptr<BoardWidget> board;
};

// A board test in a temporary working directory of its own (so the board
// folder, "boards" under it, is the test's), back where it was afterwards.
class FolderBoardTest : public BoardTest {
protected:
    void SetUp() override
    {
        BoardTest::SetUp();
        ASSERT_TRUE(tmp.isValid());
        oldDir = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(tmp.path()));
    }
    void TearDown() override
    {
        BoardTest::TearDown();  // the widget (and its saver) goes first
        QDir::setCurrent(oldDir);
    }

    QTemporaryDir tmp;
    QString oldDir;
};

// Runs the event loop until cond holds; false after timeoutMs, a bound that
// only turns a hang into a failure.
template <typename F>
bool waitFor(F cond, int timeoutMs = 60000)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

inline QImage toImage(const QPixmap& pm)
{
    return pm.toImage().convertToFormat(QImage::Format_ARGB32);
}

// A transparent ARGB image to draw on.
inline QImage blank(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

// What the board shows: paint() into an image of the view's size.
inline QImage composed(BoardWidget* w)
{
    QImage img(VIEW_WIDTH, VIEW_HEIGHT, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::magenta);
    QPainter p(&img);
    w->paint(&p);
    p.end();
    return img.convertToFormat(QImage::Format_ARGB32);
}

inline int alphaAt(const QImage& img, int x, int y)
{
    return qAlpha(img.pixel(x, y));
}

inline int countInk(const QImage& img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += qAlpha(img.pixel(x, y)) != 0;
    return n;
}

inline QRgb rgbOnly(QRgb c)
{
    return c & 0x00FFFFFF;
}

// A paint device whose engine records the target rectangle of every pixmap
// drawn onto it (the soft pen's stamps) and counts other drawing.
class StampLog : public QPaintDevice {
public:
    StampLog(int w, int h) : w_(w), h_(h), engine_(this) {}
    ~StampLog() override = default;
    QPaintEngine* paintEngine() const override { return const_cast<Engine*>(&engine_); }

    std::vector<QRectF> stamps;
    int otherDrawing = 0;

protected:
    int metric(PaintDeviceMetric m) const override
    {
        switch (m) {
        case PdmWidth: return w_;
        case PdmHeight: return h_;
        case PdmWidthMM: return w_ / 4;
        case PdmHeightMM: return h_ / 4;
        case PdmNumColors: return 0x7fffffff;
        case PdmDepth: return 32;
        case PdmDpiX: case PdmDpiY: case PdmPhysicalDpiX: case PdmPhysicalDpiY: return 96;
        case PdmDevicePixelRatio: return 1;
        case PdmDevicePixelRatioScaled: return static_cast<int>(devicePixelRatioFScale());
        }
        return 0;
    }

private:
    class Engine : public QPaintEngine {
    public:
        explicit Engine(StampLog* log) : QPaintEngine(AllFeatures), log_(log) {}
        bool begin(QPaintDevice*) override { return true; }
        bool end() override { return true; }
        void updateState(const QPaintEngineState&) override {}
        void drawPixmap(const QRectF& r, const QPixmap&, const QRectF&) override { log_->stamps.push_back(r); }
        void drawPath(const QPainterPath&) override { ++log_->otherDrawing; }
        void drawPolygon(const QPointF*, int, PolygonDrawMode) override { ++log_->otherDrawing; }
        Type type() const override { return User; }

    private:
        StampLog* log_;
    };

    int w_, h_;
    Engine engine_;
};

// A PDF of one page per colour, each pageSize points: the page filled with
// its colour, a black square over the tenth of the page from (10 %, 10 %),
// and "Page n" in black. Made with Qt's PDF writer, as any PDF a teacher has.
inline bool makePdf(const QString& path, const std::vector<QColor>& colours, const QSizeF& pageSize)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageLayout(QPageLayout(QPageSize(pageSize, QPageSize::Point, QString(), QPageSize::ExactMatch),
                                     QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    QPainter p;
    for (size_t i = 0; i < colours.size(); ++i) {
        if (i == 0 ? !p.begin(&writer) : !writer.newPage())
            return false;
        const QRectF page(QPointF(0, 0), pageSize);
        p.fillRect(page, colours[i]);
        p.fillRect(QRectF(pageSize.width() * 0.1, pageSize.height() * 0.1, pageSize.width() * 0.1,
                          pageSize.height() * 0.1),
                   Qt::black);
        p.setPen(Qt::black);
        p.drawText(page.adjusted(0, pageSize.height() * 0.5, 0, 0), Qt::AlignHCenter,
                   QString("Page %1").arg(i + 1));
    }
    return p.end();
}

// Side of the stamp that the soft pen lays for size index k.
inline int stampSide(int k)
{
    if (k <= 3)
        return 3;
    if (k <= 60)
        return k % 2 == 0 ? k + 1 : k;
    return k;
}

}  // namespace btest

#endif
