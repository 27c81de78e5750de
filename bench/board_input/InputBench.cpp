// Whiteboard input figures on the offscreen platform, view 1920 x 1080:
// appending soft-pen samples (with the corner search of every sample) along
// a handwriting-like zigzag, and handling one touch update of a two-finger
// pan or zoom (which only moves the view transform and asks for a repaint).
//
//   tavlo-bench-board-input [--benchmark_repetitions=N ...]
#include "BoardWidget.h"

#include <QApplication>
#include <QTest>
#include <QTouchEvent>
#include <benchmark/benchmark.h>
#include <cmath>
#include <vector>

namespace {

// A zigzag of legs at +-68 degrees, the pen slowing into each corner.
std::vector<QPointF> zigzag(int legs)
{
    std::vector<QPointF> pts;
    QPointF at(100, 100);
    pts.push_back(at);
    for (int l = 0; l < legs; ++l) {
        const double slope = (l % 2) ? -2.5 : 2.5;
        const double n = std::sqrt(1 + slope * slope);
        for (double u = 0; u < 150;) {
            const double step = 1.5 + 2.5 * std::sin(M_PI * u / 150);
            at += QPointF(step / n, slope * step / n);
            pts.push_back(at);
            u += step;
        }
    }
    return pts;
}

void BM_SoftPenAddPoint(benchmark::State& state)
{
    const std::vector<QPointF> pts = zigzag(8);
    size_t splits = 0;
    for (auto _ : state) {
        Stroke s(TT_P_SOFT, static_cast<int>(state.range(0)), 0, 0, pts[0]);
        for (size_t i = 1; i < pts.size(); ++i)
            splits += s.addPoint(static_cast<long>(i * 8), pts[i]);
        benchmark::DoNotOptimize(s.segments.size());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * (pts.size() - 1)));
    state.counters["splits/stroke"] = static_cast<double>(splits) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_SoftPenAddPoint)->Arg(2)->Arg(8)->Unit(benchmark::kMicrosecond);

QTouchDevice* device()
{
    static QTouchDevice* dev = QTest::createTouchDevice(QTouchDevice::TouchScreen);
    return dev;
}

void sendTouch(BoardWidget* w, QEvent::Type type, const QList<QPointF>& at, Qt::TouchPointState state)
{
    QList<QTouchEvent::TouchPoint> list;
    const QPointF origin = w->mapToGlobal(QPoint(0, 0));
    for (int i = 0; i < at.size(); ++i) {
        QTouchEvent::TouchPoint tp(i);
        tp.setState(state);
        tp.setPos(at[i]);
        tp.setScreenPos(origin + at[i]);
        list << tp;
    }
    QTouchEvent ev(type, device(), Qt::NoModifier, state, list);
    ev.setWindow(w->windowHandle());
    ev.setTarget(w);
    QApplication::sendEvent(w, &ev);
}

// One touch update of a running pan (arg 0) or zoom (arg 1).
void BM_TouchGestureUpdate(benchmark::State& state)
{
    BoardWidget w;
    w.newPage(QString(), true);
    w.resize(1920, 1080);
    w.show();
    QCoreApplication::processEvents();
    const bool zoom = state.range(0) == 1;
    const double half = zoom ? 300 : 50;
    sendTouch(&w, QEvent::TouchBegin, {QPointF(960 - half, 540), QPointF(960 + half, 540)}, Qt::TouchPointPressed);
    int i = 0;
    for (auto _ : state) {
        const double d = std::sin(++i * 0.01) * 200;
        const double spread = zoom ? half + d : half;
        sendTouch(&w, QEvent::TouchUpdate, {QPointF(960 - spread + d, 540), QPointF(960 + spread + d, 540)},
                  Qt::TouchPointMoved);
    }
    benchmark::DoNotOptimize(xLeft);
    sendTouch(&w, QEvent::TouchEnd, {QPointF(960 - half, 540), QPointF(960 + half, 540)}, Qt::TouchPointReleased);
    while (runningSpringBacks() > 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    state.SetLabel(zoom ? "zoom" : "pan");
}
BENCHMARK(BM_TouchGestureUpdate)->Arg(0)->Arg(1)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
