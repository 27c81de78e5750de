// Whiteboard figures for the lesson's own material, at 1920 x 1080 on the
// offscreen platform, with a 20-page PDF of slides (bench/board/BenchPdf.h):
// opening it until its first page is on screen, and until every page has
// its thumbnail in the page strip; the memory the board holds per page; and,
// side by side, what Poppler's own command-line renderer (pdftoppm) takes to
// render the same pages at the same sizes. Fixed iteration counts over the
// same file; the renderings start cold (the board's cache is emptied).
//
//   tavlo-bench-board-document [--benchmark_repetitions=N ...]
#include "BackgroundCache.h"
#include "BenchPdf.h"
#include "BoardForm.h"
#include "BoardWidget.h"
#include "PageStrip.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <benchmark/benchmark.h>
#include <memory>
#include <unistd.h>

namespace {

const int PAGES = 20;

QString lessonPdf()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath("lesson.pdf");
        benchpdf::lesson(p, PAGES);
        return p;
    }();
    return path;
}

// Resident memory of the process, bytes.
double rssBytes()
{
    QFile f("/proc/self/statm");
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * static_cast<double>(sysconf(_SC_PAGESIZE)) : 0;
}

// A board window of 1920 x 1080, shown, on a fresh board.
std::unique_ptr<BoardForm> openForm()
{
    resetBoardState();
    std::unique_ptr<BoardForm> form(new BoardForm());
    form->resize(1920, 1080);
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get(), 60000))
        return nullptr;
    QCoreApplication::processEvents();
    return form;
}

bool stripSettled(PageStrip* strip)
{
    if (strip->pendingBackgrounds() > 0 || strip->editsPending())
        return false;
    for (int i = 0; i < static_cast<int>(pages.size()); ++i)
        if (strip->thumbnail(i).isNull())
            return false;
    return true;
}

// From the open to the first page on the screen: the PDF opened, its first
// page rendered at 1920 x 1080 units, the layers drawn and the window
// repainted.
void BM_OpenPdfFirstPageOnScreen(benchmark::State& state)
{
    const QString pdf = lessonPdf();
    std::unique_ptr<BoardForm> form = openForm();
    if (!form)
        state.SkipWithError("no window");
    for (auto _ : state) {
        state.PauseTiming();
        BackgroundCache::clear();
        state.ResumeTiming();
        if (!boardWidget->openDocument(pdf))
            state.SkipWithError("open failed");
        boardWidget->repaint();
    }
}

// From the open until every page's thumbnail is in the strip (the strip
// shown, as opening a document shows it).
void BM_OpenPdfAllPagesReady(benchmark::State& state)
{
    const QString pdf = lessonPdf();
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<BoardForm> form = openForm();
        if (!form) {
            state.SkipWithError("no window");
            break;
        }
        BackgroundCache::clear();
        PageStrip* strip = form->pageStrip();
        state.ResumeTiming();
        if (!boardWidget->openDocument(pdf))
            state.SkipWithError("open failed");
        QElapsedTimer t;
        t.start();
        while (!stripSettled(strip) && t.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (!stripSettled(strip))
            state.SkipWithError("thumbnails not ready");
        state.PauseTiming();
        form.reset();
        state.ResumeTiming();
    }
}

// What the board holds per page of the PDF: resident memory after the open
// with every thumbnail made, and after every page was shown once (the
// renderings the cache keeps), less before, over the page count. One run,
// first of all (later runs reuse what the allocator kept).
void BM_MemoryPerPdfPage(benchmark::State& state)
{
    const QString pdf = lessonPdf();
    std::unique_ptr<BoardForm> form = openForm();
    if (!form)
        state.SkipWithError("no window");
    BackgroundCache::clear();
    double opened = 0, visited = 0;
    for (auto _ : state) {
        const double before = rssBytes();
        boardWidget->openDocument(pdf);
        QElapsedTimer t;
        t.start();
        while (!stripSettled(form->pageStrip()) && t.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        opened = rssBytes() - before;
        for (int i = 1; i < PAGES; ++i) {
            boardWidget->nextPage();
            QCoreApplication::processEvents();
        }
        visited = rssBytes() - before;
    }
    state.counters["KiB/page_opened"] = opened / 1024 / PAGES;
    state.counters["KiB/page_all_shown"] = visited / 1024 / PAGES;
}

// Poppler's command-line renderer on the same file, beside the board: the
// first page at the board's resolution (1920 pixels across), all pages at
// that resolution, and all pages as 160-pixel thumbnails.
void pdftoppm(benchmark::State& state, const QStringList& args)
{
    const QString pdf = lessonPdf();
    QTemporaryDir out;
    for (auto _ : state) {
        QProcess p;
        p.start("pdftoppm", QStringList(args) << "-png" << pdf << out.filePath("page"));
        if (!p.waitForFinished(120000) || p.exitCode() != 0)
            state.SkipWithError("pdftoppm failed");
    }
}

void BM_PdftoppmFirstPage(benchmark::State& state)
{
    pdftoppm(state, {"-scale-to-x", "1920", "-scale-to-y", "1080", "-f", "1", "-l", "1"});
}

void BM_PdftoppmAllPages(benchmark::State& state)
{
    pdftoppm(state, {"-scale-to-x", "1920", "-scale-to-y", "1080"});
}

void BM_PdftoppmAllThumbnails(benchmark::State& state)
{
    pdftoppm(state, {"-scale-to", "160"});
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString oldDir = QDir::currentPath();
    QTemporaryDir work;  // the board's folder goes here
    QDir::setCurrent(work.path());
    benchmark::RegisterBenchmark("BM_MemoryPerPdfPage", BM_MemoryPerPdfPage)->Iterations(1);
    benchmark::RegisterBenchmark("BM_OpenPdfFirstPageOnScreen", BM_OpenPdfFirstPageOnScreen)
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("BM_PdftoppmFirstPage", BM_PdftoppmFirstPage)
        ->Iterations(10)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_OpenPdfAllPagesReady", BM_OpenPdfAllPagesReady)
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_PdftoppmAllThumbnails", BM_PdftoppmAllThumbnails)
        ->Iterations(5)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("BM_PdftoppmAllPages", BM_PdftoppmAllPages)
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    resetBoardState();
    QDir::setCurrent(oldDir);
    return 0;
}
