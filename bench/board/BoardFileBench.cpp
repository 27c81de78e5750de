// Board-file figures at 1920 x 1080 on the offscreen platform: a save of a
// board of 500 handwritten strokes (the part on the GUI thread, and the
// whole save through the writer thread to disk), reading that board back,
// and the PDF of a 10-page board.
// Saving is not on while the board is built: every save is the benchmark's. Fixed iteration counts over the same input.
//
//   tavlo-bench-boardfile [--benchmark_repetitions=N ...]
#include "BenchPdf.h"
#include "BoardFile.h"
#include "BoardSaver.h"
#include "BoardWidget.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QResizeEvent>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>

namespace {

const int W = 1920, H = 1080;

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

// strokes soft-pen words of about 60 samples each (looped, slanted, every
// 8 ms), spread over the view, on the current page.
void writeStrokes(BoardWidget* w, int strokes, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> ux(40, W - 300), uy(60, H - 60), u(0, 1);
    touchModel = PEN;
    long t = 1000;
    for (int s = 0; s < strokes; ++s) {
        const QPointF o(ux(rng), uy(rng));
        const double size = 30 + 30 * u(rng);
        const int n = 45 + static_cast<int>(u(rng) * 30);
        for (int i = 0; i <= n; ++i) {
            const double k = i / 15.0;
            const double y = -std::sin(2 * M_PI * k) * size;
            const double x = k * size * 0.9 + std::cos(2 * M_PI * k) * size * 0.35 - y * 0.3;
            if (i == 0)
                w->penDown(o.x() + x, o.y() + y, t);
            else
                w->penMove(o.x() + x, o.y() + y, t + 8 * i);
        }
        w->penUp(o.x() + n * size * 0.06, o.y(), t + 8 * n + 8);
        w->finishPenStroke();
        t += 8 * n + 300;
    }
    touchModel = IDEL;
}

// The GUI thread's share of a save: what BoardSaver::saveNow does (the
// board's file image, handed to the writer). The writes run between
// iterations, untimed.
void BM_SaveGuiThread500Strokes(benchmark::State& state)
{
    QTemporaryDir dir;
    std::unique_ptr<BoardWidget> w = makeBoard();
    writeStrokes(w.get(), 500, 11);
    BoardSaver saver([] { return BoardFile::encode(pages, pageIdx, bkgType); }, dir.path());
    for (auto _ : state) {
        saver.saveNow();
        state.PauseTiming();
        saver.flush();
        state.ResumeTiming();
    }
    state.counters["file_KiB"] = QFileInfo(saver.path()).size() / 1024.0;
}
BENCHMARK(BM_SaveGuiThread500Strokes)->Unit(benchmark::kMillisecond)->Iterations(50);

// The GUI thread's share of the save after one stroke on a 20-page board:
// a PDF of slides with 25 handwritten words on every page (500 strokes in
// all); each iteration writes one more word (untimed) and saves.
void BM_SaveGuiThreadAfterOneStroke20Pages(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString pdf = dir.filePath("lesson.pdf");
    benchpdf::lesson(pdf, 20);
    std::unique_ptr<BoardWidget> w = makeBoard();
    if (!w->openDocument(pdf))
        state.SkipWithError("the PDF did not open");
    for (int p = 0; p < 20; ++p) {
        w->loadPage(static_cast<unsigned>(p));
        writeStrokes(w.get(), 25, 200 + p);
    }
    BoardSaver saver([] { return BoardFile::encode(pages, pageIdx, bkgType); }, dir.path());
    unsigned seed = 1000;
    for (auto _ : state) {
        state.PauseTiming();
        writeStrokes(w.get(), 1, ++seed);
        state.ResumeTiming();
        saver.saveNow();
        state.PauseTiming();
        saver.flush();
        state.ResumeTiming();
    }
    state.counters["file_KiB"] = QFileInfo(saver.path()).size() / 1024.0;
}
BENCHMARK(BM_SaveGuiThreadAfterOneStroke20Pages)->Unit(benchmark::kMillisecond)->Iterations(50);

// A whole save, until the file is renamed into place and synced.
void BM_SaveTotal500Strokes(benchmark::State& state)
{
    QTemporaryDir dir;
    std::unique_ptr<BoardWidget> w = makeBoard();
    writeStrokes(w.get(), 500, 11);
    BoardSaver saver([] { return BoardFile::encode(pages, pageIdx, bkgType); }, dir.path());
    for (auto _ : state) {
        saver.saveNow();
        saver.flush();
    }
}
BENCHMARK(BM_SaveTotal500Strokes)->Unit(benchmark::kMillisecond)->Iterations(30);

// Reading the 500-stroke board file: read, checks and rebuild of every
// stroke, without showing it.
void BM_Read500Strokes(benchmark::State& state)
{
    QTemporaryDir dir;
    std::unique_ptr<BoardWidget> w = makeBoard();
    writeStrokes(w.get(), 500, 11);
    const QString path = dir.filePath("b.tvboard");
    BoardFile::writeAtomic(path, BoardFile::encode(pages, pageIdx, bkgType), nullptr);
    for (auto _ : state) {
        BoardFile::Contents c;
        if (!BoardFile::read(path, c, nullptr))
            state.SkipWithError("read failed");
    }
}
BENCHMARK(BM_Read500Strokes)->Unit(benchmark::kMillisecond)->Iterations(20);

// Reading the 500-stroke board back and showing it: file read, checks and
// rebuild of every stroke, then the page rendered at the view.
void BM_Load500Strokes(benchmark::State& state)
{
    QTemporaryDir dir;
    std::unique_ptr<BoardWidget> w = makeBoard();
    writeStrokes(w.get(), 500, 11);
    const QString path = dir.filePath("b.tvboard");
    BoardFile::writeAtomic(path, BoardFile::encode(pages, pageIdx, bkgType), nullptr);
    for (auto _ : state) {
        if (!w->openBoard(path))
            state.SkipWithError("open failed");
    }
}
BENCHMARK(BM_Load500Strokes)->Unit(benchmark::kMillisecond)->Iterations(20);

// All pages of a 10-page board (50 strokes a page) into one PDF.
void BM_PdfExport10Pages(benchmark::State& state)
{
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    std::unique_ptr<BoardWidget> w = makeBoard();
    for (int p = 0; p < 10; ++p) {
        if (p > 0)
            w->newPage(QString(), true);
        writeStrokes(w.get(), 50, 100 + p);
    }
    for (auto _ : state) {
        const QString path = w->savePdf();
        state.PauseTiming();
        if (path.isEmpty())
            state.SkipWithError("no PDF");
        state.counters["pdf_KiB"] = QFileInfo(path).size() / 1024.0;
        QFile::remove(path);
        state.ResumeTiming();
    }
    QDir::setCurrent(old);
}
BENCHMARK(BM_PdfExport10Pages)->Unit(benchmark::kMillisecond)->Iterations(5);

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
