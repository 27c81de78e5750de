// Whiteboard drawing-surface figures at 1920 x 1080 on the offscreen
// platform: a pen move with its repaint, a composed paint during a drag, a
// full re-render of a page of handwriting, and the export of a page whose
// ink spans 5760 x 3240.
//
//   tavlo-bench-board [--benchmark_repetitions=N ...]
#include "BoardWidget.h"

#include <QApplication>
#include <QImage>
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

void BM_PenMoveWithRepaint(benchmark::State& state)
{
    auto w = makeBoard();
    writePage(w.get(), 100, W, H, 40);  // some ink already on the page
    w->drawWin();
    QImage screen(W, H, QImage::Format_ARGB32_Premultiplied);
    std::mt19937 rng(7);
    std::vector<Sample> path;
    size_t at = 0;
    long t = 100000;
    for (auto _ : state) {
        if (at >= path.size()) {
            state.PauseTiming();
            if (!path.empty()) {
                w->penUp(path.back().pos.x(), path.back().pos.y(), path.back().time + 8);
                w->finishPenStroke();
            }
            path = handwriting(rng, QPointF(200 + (t / 97) % 1400, 200 + (t / 31) % 700), 60, t);
            t = path.back().time + 300;
            w->penDown(path[0].pos.x(), path[0].pos.y(), path[0].time);
            touchModel = PEN;
            at = 1;
            state.ResumeTiming();
        }
        w->penMove(path[at].pos.x(), path[at].pos.y(), path[at].time);
        QPainter p(&screen);
        w->paint(&p);
        p.end();
        ++at;
    }
    touchModel = IDEL;
}
BENCHMARK(BM_PenMoveWithRepaint)->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_ComposedPaintDuringDrag)->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_DrawWin500SoftStrokes)->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_ExportPage5760x3240)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
