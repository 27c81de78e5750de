// Whiteboard drawing-surface figures at 1920 x 1080 on the offscreen
// platform: a pen move with its repaint (partial, through the event loop, and
// of the whole widget), a composed paint during a drag, a full re-render of a
// page of handwriting, the undo and redo of a clear of such a page, and the
// export of a page whose ink spans 5760 x 3240.
// Every benchmark runs a fixed number of iterations over the same input, so
// that runs differ only by the machine.
//
//   tavlo-bench-board [--benchmark_repetitions=N ...]
#include "BenchPdf.h"
#include "BoardWidget.h"

#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QResizeEvent>
#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

const int W = 1920, H = 1080;

struct Sample {
    long time;
    QPointF pos;
};

// One handwritten word: a cursive run of loops with some slant, sampled as a
// pen digitiser would (every 8 ms, a few pixels apart).
std::vector<Sample> handwriting(std::mt19937& rng, QPointF origin, double size, long t0)
{
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<Sample> out;
    const int letters = 2 + static_cast<int>(u(rng) * 4);
    const int perLetter = 14 + static_cast<int>(u(rng) * 8);
    const double slant = 0.25 + 0.2 * u(rng);
    for (int i = 0; i <= letters * perLetter; ++i) {
        const double t = static_cast<double>(i) / perLetter;
        const double phase = 2 * M_PI * t;
        const double y = -std::sin(phase) * size * (0.6 + 0.4 * std::sin(t * 1.7));
        const double x = t * size * 0.9 + std::cos(phase) * size * 0.35 - y * slant;
        const long dt = 6 + static_cast<long>(u(rng) * 6);
        out.push_back({t0 + i * dt, origin + QPointF(x, y)});
    }
    return out;
}

// A board widget of the benchmark size with one empty page.
std::unique_ptr<BoardWidget> makeBoard()
{
    std::unique_ptr<BoardWidget> w(new BoardWidget());
    w->resize(W, H);
    QResizeEvent ev(QSize(W, H), QSize());
    QCoreApplication::sendEvent(w.get(), &ev);
    w->setAttribute(Qt::WA_PendingResizeEvent, false);
    for (Page* p : pages)
        delete p;
    pages.clear();
    page = nullptr;
    pageIdx = -1;
    w->newPage(QString(), true);
    return w;
}

// Draws strokes words through the pen operations, spread over a width x
// height area of the page, at the current view transform.
void writePage(BoardWidget* w, int strokes, double width, double height, double size)
{
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> ux(0.02 * width, 0.9 * width), uy(0.05 * height, 0.95 * height);
    long t = 1000;
    touchModel = PEN;
    for (int s = 0; s < strokes; ++s) {
        const std::vector<Sample> path = handwriting(rng, QPointF(ux(rng), uy(rng)), size, t);
        w->penDown((path[0].pos.x() - xLeft) * xRate, (path[0].pos.y() - xTop) * xRate, path[0].time);
        for (size_t i = 1; i < path.size(); ++i)
            w->penMove((path[i].pos.x() - xLeft) * xRate, (path[i].pos.y() - xTop) * xRate, path[i].time);
        w->penUp((path.back().pos.x() - xLeft) * xRate, (path.back().pos.y() - xTop) * xRate, path.back().time + 8);
        t = path.back().time + 300;
    }
    touchModel = IDEL;
}

// The words a pen-move benchmark writes, the same in every run: each run
// writes whole cycles of them (a fixed number of iterations), so that the
// mean does not depend on how many iterations the library picks. The cost of
// a move grows with the length of the segment being written, whose live
// feedback is redrawn at every repaint.
const std::vector<std::vector<Sample>>& penWords()
{
    static const std::vector<std::vector<Sample>> words = [] {
        std::mt19937 rng(7);
        std::vector<std::vector<Sample>> out;
        long t = 100000;
        for (int i = 0; i < 16; ++i) {
            out.push_back(handwriting(rng, QPointF(200 + (i % 4) * 380, 200 + (i / 4) * 190), 60, t));
            t = out.back().back().time + 300;
        }
        return out;
    }();
    return words;
}

int penMovesPerCycle()
{
    int n = 0;
    for (const std::vector<Sample>& word : penWords())
        n += static_cast<int>(word.size()) - 1;
    return n;
}

// Counts the paint events of a widget and the pixels they cover.
class PaintCounter : public QObject {
public:
    long paints = 0;
    double pixels = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            const QRect r = static_cast<QPaintEvent*>(e)->rect();
            ++paints;
            pixels += static_cast<double>(r.width()) * r.height();
        }
        return false;
    }
};

// The time the board's input handlers see: the sample's own.
long sampleTime = 0;

void mouseEvent(QWidget* w, QEvent::Type type, QPointF p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent ev(type, p, p, p, button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &ev);
}

// One mouse move of the left button on the shown widget, and the repaint it
// asks for (only the rectangle that the live feedback covered before and
// after it), through the widget's backing store.
void penMoveWithRepaint(benchmark::State& state, const QString& pdf)
{
    auto w = makeBoard();
    if (!pdf.isEmpty() && !w->openDocument(pdf))
        state.SkipWithError("the PDF did not open");
    writePage(w.get(), 100, W, H, 40);  // some ink already on the page
    w->drawWin();
    w->show();
    QCoreApplication::processEvents();
    PaintCounter counter;
    w->installEventFilter(&counter);
    long moves = 0, movePaints = 0;
    double movePixels = 0;
    boardClock = [] { return sampleTime; };
    size_t word = 0, at = 0;
    const std::vector<std::vector<Sample>>& words = penWords();
    for (auto _ : state) {
        if (at == 0) {
            state.PauseTiming();
            sampleTime = words[word][0].time;
            mouseEvent(w.get(), QEvent::MouseButtonPress, words[word][0].pos, Qt::LeftButton, Qt::LeftButton);
            QCoreApplication::processEvents();
            movePaints -= counter.paints;  // the press's repaint is not part of a move
            movePixels -= counter.pixels;
            at = 1;
            state.ResumeTiming();
        }
        sampleTime = words[word][at].time;
        const QRect before = w->liveRect();
        mouseEvent(w.get(), QEvent::MouseMove, words[word][at].pos, Qt::NoButton, Qt::LeftButton);
        // The repaint that the move asked for, done now rather than at the
        // platform's next update tick.
        w->repaint(before | w->liveRect());
        ++moves;
        if (++at == words[word].size()) {
            state.PauseTiming();
            sampleTime = words[word].back().time + 8;
            movePaints += counter.paints;
            movePixels += counter.pixels;
            mouseEvent(w.get(), QEvent::MouseButtonRelease, words[word].back().pos, Qt::LeftButton, Qt::NoButton);
            QCoreApplication::processEvents();
            // Keep the page as it was: the next cycle writes the same words.
            delete page->strokes.back();
            page->strokes.pop_back();
            word = (word + 1) % words.size();
            at = 0;
            state.ResumeTiming();
        }
    }
    state.counters["paints/move"] = moves > 0 ? static_cast<double>(movePaints) / moves : 0;
    state.counters["px/paint"] = movePaints > 0 ? movePixels / movePaints : 0;
    w->removeEventFilter(&counter);
}

void BM_PenMoveWithRepaint(benchmark::State& state)
{
    penMoveWithRepaint(state, QString());
}

// The same moves over the first page of a PDF of slides (its picture under
// the ink, 1920 x 1080 units at rate 1).
void BM_PenMoveWithRepaintOverPdf(benchmark::State& state)
{
    static QTemporaryDir dir;
    const QString pdf = dir.filePath("lesson.pdf");
    if (!QFileInfo::exists(pdf))
        benchpdf::lesson(pdf, 20);
    penMoveWithRepaint(state, pdf);
}

// The same moves with a repaint of the whole widget, as every move did
// before repaints were limited to the new ink.
void BM_PenMoveWithFullRepaint(benchmark::State& state)
{
    auto w = makeBoard();
    writePage(w.get(), 100, W, H, 40);
    w->drawWin();
    QImage screen(W, H, QImage::Format_ARGB32_Premultiplied);
    size_t word = 0, at = 0;
    const std::vector<std::vector<Sample>>& words = penWords();
    for (auto _ : state) {
        const std::vector<Sample>& path = words[word];
        if (at == 0) {
            state.PauseTiming();
            w->penDown(path[0].pos.x(), path[0].pos.y(), path[0].time);
            touchModel = PEN;
            at = 1;
            state.ResumeTiming();
        }
        w->penMove(path[at].pos.x(), path[at].pos.y(), path[at].time);
        QPainter p(&screen);
        w->paint(&p);
        p.end();
        if (++at == path.size()) {
            state.PauseTiming();
            w->penUp(path.back().pos.x(), path.back().pos.y(), path.back().time + 8);
            w->finishPenStroke();
            delete page->strokes.back();
            page->strokes.pop_back();
            word = (word + 1) % words.size();
            at = 0;
            state.ResumeTiming();
        }
    }
    touchModel = IDEL;
}

void BM_ComposedPaintDuringDrag(benchmark::State& state)
{
    auto w = makeBoard();
    writePage(w.get(), 200, W, H, 40);
    w->drawWin();
    QImage screen(W, H, QImage::Format_ARGB32_Premultiplied);
    int step = 0;
    for (auto _ : state) {
        xLeft = winLeft - 100 - (step % 50);
        xTop = winTop + (step % 30);
        QPainter p(&screen);
        w->paint(&p);
        p.end();
        ++step;
    }
    xLeft = winLeft;
    xTop = winTop;
}
BENCHMARK(BM_ComposedPaintDuringDrag)->Unit(benchmark::kMillisecond)->Iterations(500);

void BM_DrawWin500SoftStrokes(benchmark::State& state)
{
    auto w = makeBoard();
    writePage(w.get(), 500, W, H, 40);
    int points = 0;
    for (Stroke* st : page->strokes)
        for (Segment* sg : st->segments)
            points += static_cast<int>(sg->points.size());
    for (auto _ : state)
        w->drawWin();
    state.counters["strokes"] = static_cast<double>(page->strokes.size());
    state.counters["points"] = points;
}
BENCHMARK(BM_DrawWin500SoftStrokes)->Unit(benchmark::kMillisecond)->Iterations(20);

// Undo of a clear of a page of 500 handwritten strokes: the strokes back on
// the page and the page rendered anew. Each undo is followed (untimed) by
// the redo that clears the page again.
void BM_UndoClear500Strokes(benchmark::State& state)
{
    auto w = makeBoard();
    writePage(w.get(), 500, W, H, 40);
    w->clear();
    for (auto _ : state) {
        w->undo();
        state.PauseTiming();
        if (page->strokes.size() != 500)
            state.SkipWithError("the strokes did not come back");
        w->redo();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_UndoClear500Strokes)->Unit(benchmark::kMillisecond)->Iterations(20);

// Redo of that clear: the strokes off the page and the page rendered anew.
void BM_RedoClear500Strokes(benchmark::State& state)
{
    auto w = makeBoard();
    writePage(w.get(), 500, W, H, 40);
    w->clear();
    for (auto _ : state) {
        state.PauseTiming();
        w->undo();
        state.ResumeTiming();
        w->redo();
    }
    if (!page->strokes.empty())
        state.SkipWithError("the page was not cleared");
}
BENCHMARK(BM_RedoClear500Strokes)->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_ExportPage5760x3240(benchmark::State& state)
{
    auto w = makeBoard();
    // Written at rate 1 across the whole exported area.
    writePage(w.get(), 500, 5760, 3240, 60);
    page->updateMaxPoint(QPointF(5720, 3200));
    page->updateMaxPoint(QPointF(0, 0));
    QSize size;
    for (auto _ : state) {
        std::unique_ptr<QPixmap> out(w->savePageToPixmap(pageIdx));
        size = out->size();
        benchmark::DoNotOptimize(out.get());
    }
    state.counters["width"] = size.width();
    state.counters["height"] = size.height();
}
BENCHMARK(BM_ExportPage5760x3240)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Whole cycles of the same words, twice: the same work in every run.
    benchmark::RegisterBenchmark("BM_PenMoveWithRepaint", BM_PenMoveWithRepaint)
        ->Iterations(2 * penMovesPerCycle())
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_PenMoveWithRepaintOverPdf", BM_PenMoveWithRepaintOverPdf)
        ->Iterations(2 * penMovesPerCycle())
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_PenMoveWithFullRepaint", BM_PenMoveWithFullRepaint)
        ->Iterations(2 * penMovesPerCycle())
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
