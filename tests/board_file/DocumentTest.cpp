// The lesson's own material on the board: a PDF opens as pages to write on
// (rendered by Poppler at the board's resolution), a picture as one page; the
// board file refers to the document and brings it back; files that could
// sink the board (a FIFO, a picture of 20000 x 20000 pixels, a path that only
// makes sense beside the board file) are handled; and the PDF export keeps
// the ink as paths. Real PDFs, made with Qt's PDF writer and read with
// Poppler's tools.
#include "BoardFileTestUtil.h"
#include "BoardForm.h"
#include "BoardSaver.h"
#include "PdfDocument.h"
#include "PictureFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImageReader>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>
#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace btest;
using namespace bftest;

namespace {

const QSizeF SLIDE(720, 405);  // 16:9 points
const QColor RED(220, 40, 40), GREEN(40, 200, 60), BLUE(40, 60, 220);

bool near(QRgb a, QColor b, int tolerance = 12)
{
    return std::abs(qRed(a) - b.red()) <= tolerance && std::abs(qGreen(a) - b.green()) <= tolerance &&
           std::abs(qBlue(a) - b.blue()) <= tolerance;
}

// A PNG of w x h pixels, 1 bit each, all white, written by hand: it is small
// on disk (the rows compress to nearly nothing), whatever its size.
bool hugePng(const QString& path, quint32 w, quint32 h)
{
    auto crc = [](const QByteArray& bytes) {
        quint32 c = 0xFFFFFFFFu;
        for (char ch : bytes) {
            c ^= static_cast<quint8>(ch);
            for (int k = 0; k < 8; ++k)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1u)));
        }
        return c ^ 0xFFFFFFFFu;
    };
    auto be32 = [](quint32 v) {
        v = qToBigEndian(v);
        return QByteArray(reinterpret_cast<const char*>(&v), 4);
    };
    auto chunk = [&](const char* type, const QByteArray& data) {
        const QByteArray body = QByteArray(type) + data;
        return be32(static_cast<quint32>(data.size())) + body + be32(crc(body));
    };
    QByteArray ihdr = be32(w) + be32(h);
    ihdr.append(char(1)).append(char(0)).append(char(0)).append(char(0)).append(char(0));
    const int row = 1 + static_cast<int>((w + 7) / 8);
    QByteArray raw(row * static_cast<int>(h), '\xff');
    for (quint32 y = 0; y < h; ++y)
        raw[static_cast<int>(y) * row] = 0;  // filter type: none
    const QByteArray z = qCompress(raw, 9).mid(4);  // the zlib stream without Qt's length
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("\x89PNG\r\n\x1a\n", 8);
    f.write(chunk("IHDR", ihdr));
    f.write(chunk("IDAT", z));
    f.write(chunk("IEND", QByteArray()));
    return f.error() == QFileDevice::NoError;
}

class Documents : public FolderBoardTest {
protected:

    QString lessonPdf()
    {
        const QString path = tmp.filePath("lesson.pdf");
        EXPECT_TRUE(makePdf(path, {RED, GREEN, BLUE}, SLIDE));
        return path;
    }

};

}  // namespace

TEST_F(Documents, APdfOpensAsPagesToWriteOnAndComesBackFromTheBoardFile)
{
    BoardWidget* w = makeBoard(960, 540);
    w->setAutosave(true);
    zigzag(w, 0, 20, 20, 1000);  // what was on the board goes to disk first
    const QString pdf = lessonPdf();
    ASSERT_TRUE(w->openDocument(pdf));
    ASSERT_EQ(pages.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pages[i]->bkgType, BT_IMG);
        EXPECT_EQ(pages[i]->bkgFile, pdf);
        EXPECT_EQ(pages[i]->bkgPage, i);
        EXPECT_TRUE(pages[i]->strokes.empty());
    }
    // The first page, at the board's resolution (1920 units across a 16:9
    // slide), fitted into the 960 x 540 view.
    EXPECT_EQ(pageIdx, 0);
    ASSERT_NE(bkgBmp, nullptr);
    EXPECT_EQ(bkgBmp->size(), QSize(1920, 1080));
    EXPECT_FLOAT_EQ(xRate, 0.5f);
    QImage shown = composed(w);
    EXPECT_TRUE(near(shown.pixel(700, 400), RED)) << std::hex << shown.pixel(700, 400);
    EXPECT_EQ(qRed(shown.pixel(144, 81)), 0);  // the black square at (10 %, 10 %)
    EXPECT_TRUE(near(shown.pixel(80, 40), RED));

    // Ink on the page, the next page is the next page of the PDF.
    zigzag(w, 1, 300, 300, 2000);
    ASSERT_EQ(pages[0]->strokes.size(), 1u);
    w->nextPage();
    EXPECT_TRUE(near(composed(w).pixel(700, 400), GREEN));
    const std::vector<QImage> before = renderAll(w);
    EXPECT_EQ(before[0].size(), QSize(1920, 1080));

    // The board file refers to the document; opened again it is the same
    // board, pixel for pixel.
    ASSERT_TRUE(w->saver()->flush(tsupport::SLOW_MS));
    const QString saved = w->saver()->path();
    BoardFile::Contents c;
    QString err;
    ASSERT_TRUE(BoardFile::read(saved, c, &err)) << err.toStdString();
    ASSERT_EQ(c.pages.size(), 3u);
    EXPECT_EQ(c.pages[2]->bkgFile, pdf);
    EXPECT_EQ(c.pages[2]->bkgPage, 2);
    QFile file(saved);
    EXPECT_LT(file.size(), 16 * 1024);  // no picture inside
    zigzag(w, 0, 10, 10, 3000);
    ASSERT_TRUE(w->openBoard(saved));
    const std::vector<QImage> after = renderAll(w);
    ASSERT_EQ(after.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_TRUE(after[i] == before[i]) << "page " << i;
    // The board drawn on before the PDF was opened is on disk too.
    bool foundFirst = false;
    for (const QString& f : QDir(tmp.filePath("boards")).entryList({"board-*.tvboard"}, QDir::Files)) {
        BoardFile::Contents b;
        foundFirst |= BoardFile::read(tmp.filePath("boards/" + f), b, nullptr) && b.pages.size() == 1 &&
                      b.pages[0]->strokes.size() == 1 && b.pages[0]->bkgFile.isEmpty();
    }
    EXPECT_TRUE(foundFirst);
}

TEST_F(Documents, APictureIsOnePageAndAnythingElseLeavesTheBoardAlone)
{
    BoardWidget* w = makeBoard(400, 300);
    zigzag(w, 0, 20, 20, 1000);
    QImage img(800, 600, QImage::Format_RGB32);
    img.fill(BLUE);
    const QString jpg = tmp.filePath("photo.jpg");
    ASSERT_TRUE(img.save(jpg, "JPG", 95));
    QStringList messages;
    QObject::connect(w, &BoardWidget::boardMessage, [&](const QString& m) { messages << m; });
    ASSERT_TRUE(w->openFile(jpg));
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0]->bkgFile, jpg);
    EXPECT_EQ(pages[0]->bkgPage, -1);
    ASSERT_NE(bkgBmp, nullptr);
    EXPECT_EQ(bkgBmp->size(), QSize(800, 600));
    EXPECT_TRUE(near(composed(w).pixel(200, 150), BLUE));
    zigzag(w, 0, 20, 20, 2000);

    // Neither a PDF nor a picture: a damaged PDF, a text file, a missing
    // file. A message each; the board stays as it is.
    QFile bad(tmp.filePath("broken.pdf"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("%PDF-1.4\n1 0 obj << /Type /Catalog >> endobj\ntrailer << >>\n%%EOF\n");
    bad.close();
    QFile text(tmp.filePath("notes.txt"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("just words\n");
    text.close();
    for (const QString& f : {bad.fileName(), text.fileName(), tmp.filePath("missing.pdf")}) {
        messages.clear();
        EXPECT_FALSE(w->openDocument(f)) << f.toStdString();
        ASSERT_EQ(messages.size(), 1) << f.toStdString();
        EXPECT_TRUE(messages[0].contains(f));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0]->strokes.size(), 1u);
        EXPECT_EQ(pages[0]->bkgFile, jpg);
    }
}

TEST_F(Documents, PicturesThatCouldSinkTheBoardAreRefusedOrScaled)
{
    BoardWidget* w = makeBoard(400, 300);
    // A picture of 20000 x 20000 pixels (1.6 GB as a pixmap) is refused from
    // its header, before anything is decoded.
    const QString huge = tmp.filePath("huge.png");
    ASSERT_TRUE(hugePng(huge, 20000, 20000));
    EXPECT_EQ(QImageReader(huge).size(), QSize(20000, 20000));
    w->newPage(huge, true);
    ASSERT_EQ(page->bkgFile, huge);
    EXPECT_EQ(bkgBmp, nullptr);
    QString err;
    EXPECT_TRUE(PictureFile::read(huge, &err).isNull());
    EXPECT_TRUE(err.contains("too large")) << err.toStdString();
    // A large one that can be decoded is scaled down to 16 M pixels.
    QImage large(5000, 4000, QImage::Format_RGB32);
    large.fill(GREEN);
    const QString big = tmp.filePath("big.png");
    ASSERT_TRUE(large.save(big));
    large = QImage();
    w->newPage(QString(), true);
    zigzag(w, 0, 20, 20, 1000);
    w->newPage(big, true);
    ASSERT_NE(bkgBmp, nullptr);
    EXPECT_LE(qint64(bkgBmp->width()) * bkgBmp->height(), PictureFile::MAX_PIXELS);
    EXPECT_NEAR(double(bkgBmp->width()) / bkgBmp->height(), 1.25, 0.01);
    EXPECT_TRUE(near(composed(w).pixel(200, 150), GREEN));
}

TEST_F(Documents, PictureFifosAndPathsBesideTheBoardFile)
{
    // A board file in a folder of its own names its pictures: a FIFO by its
    // full path, the same FIFO and a picture that is really there by their
    // names beside the board file.
    const QString folder = tmp.filePath("lesson");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "/fifo.png").constData(), 0600), 0);
    QImage img(320, 240, QImage::Format_RGB32);
    img.fill(RED);
    ASSERT_TRUE(img.save(folder + "/map.png"));
    std::unique_ptr<Page> fifoPage(new Page(folder + "/fifo.png", BT_GREEN, 0, 0));
    std::unique_ptr<Page> nearFifoPage(new Page(QStringLiteral("fifo.png"), BT_GREEN, 0, 0));
    std::unique_ptr<Page> mapPage(new Page(QStringLiteral("map.png"), BT_GREEN, 0, 0));
    const QString boardFile = folder + "/lesson.tvboard";
    QString err;
    ASSERT_TRUE(BoardFile::writeAtomic(
        boardFile, BoardFile::encode({fifoPage.get(), nearFifoPage.get(), mapPage.get()}, 0, BT_GREEN), &err));

    // Whatever happens, a FIFO left waiting is let go after SLOW_MS (and the
    // test fails): a board that hangs on it fails, and does not hang.
    std::atomic<bool> done{false}, letGo{false};
    const QByteArray fifo = QFile::encodeName(folder + "/fifo.png");
    std::thread watchdog([&] {
        QElapsedTimer t;
        t.start();
        while (!done && t.elapsed() < tsupport::SLOW_MS)
            QThread::msleep(20);
        if (!done) {
            letGo = true;
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });
    BoardWidget* w = makeBoard(400, 300);
    const bool opened = w->openBoard(boardFile);
    EXPECT_EQ(bkgBmp, nullptr);  // the FIFO page shows as a colour page
    EXPECT_EQ(composed(w).pixel(200, 150), 0xFF274143u);
    if (opened)
        w->nextPage();
    EXPECT_EQ(bkgBmp, nullptr);
    done = true;
    watchdog.join();
    EXPECT_FALSE(letGo) << "the board waited for the FIFO";
    ASSERT_TRUE(opened);
    ASSERT_EQ(pages.size(), 3u);
    // The picture beside the board file is found there (not in the working
    // directory).
    w->nextPage();
    ASSERT_NE(bkgBmp, nullptr);
    EXPECT_EQ(bkgBmp->size(), QSize(320, 240));
    EXPECT_TRUE(near(composed(w).pixel(200, 150), RED));
}

// The share of the pixels that differ from bg in a that have a pixel that
// differs from bg in b within radius: 1 when all of a's ink is in b.
double inkFound(const QImage& a, const QImage& b, QColor bg, int radius)
{
    auto ink = [&](const QImage& img, int x, int y) { return !near(img.pixel(x, y), bg, 60); };
    int total = 0, found = 0;
    for (int y = radius; y < a.height() - radius; ++y)
        for (int x = radius; x < a.width() - radius; ++x) {
            if (!ink(a, x, y))
                continue;
            ++total;
            bool hit = false;
            for (int dy = -radius; dy <= radius && !hit; ++dy)
                for (int dx = -radius; dx <= radius && !hit; ++dx)
                    hit = ink(b, x + dx, y + dy);
            found += hit;
        }
    return total == 0 ? 0 : double(found) / total;
}

TEST_F(Documents, ThePdfExportKeepsTheInkAsPaths)
{
    BoardWidget* w = makeBoard(960, 540);
    // A green page without a grid, with soft and hard ink and both erasers
    // ...
    w->setGridType(0);
    zigzag(w, 0, 100, 100, 1000);
    zigzag(w, 1, 100, 200, 2000);
    zigzag(w, 0, 400, 300, 2500);
    rectErase(w, 150, 100, 3000);
    trapErase(w, 140, 190, 4000);
    // ... and the first page of a PDF with blue ink.
    const QString pdf = lessonPdf();
    Page* slide = new Page(pdf, BT_IMG, 0, 0);
    slide->bkgPage = 0;
    pages.push_back(slide);
    w->loadPage(1);
    penColorIdx = 1;
    zigzag(w, 1, 300, 300, 5000);
    const std::vector<QImage> raster = renderAll(w);
    ASSERT_EQ(raster[0].size(), QSize(960, 540));
    ASSERT_EQ(raster[1].size(), QSize(1920, 1080));

    const QString out = w->savePdf();
    ASSERT_FALSE(out.isEmpty());
    // Poppler's own tool lists the pictures in it: the slide under the ink of
    // the second page, and no picture of ink anywhere.
    QProcess images;
    images.start("pdfimages", {"-list", out});
    ASSERT_TRUE(images.waitForFinished(tsupport::SLOW_MS));
    const QString list = QString::fromLocal8Bit(images.readAllStandardOutput());
    const QStringList rows = list.split('\n', Qt::SkipEmptyParts).mid(2);
    ASSERT_EQ(rows.size(), 1) << list.toStdString();
    EXPECT_TRUE(rows[0].contains(QRegularExpression("^\\s*2\\s+\\d+\\s+image\\s+1920\\s+1080\\s")))
        << rows[0].toStdString();

    // Rendered, each page shows its ink where the picture export has it and
    // nowhere else (within 3 pixels: the pen's nib is round in the PDF),
    // erased parts included.
    PdfDocument doc;
    QString err;
    ASSERT_TRUE(doc.open(out, &err)) << err.toStdString();
    ASSERT_EQ(doc.pageCount(), 2);
    const QColor green = QColor::fromRgba(0xFF274143);
    const QImage page0 = doc.render(0, raster[0].size()).convertToFormat(QImage::Format_ARGB32);
    const QImage want0 = raster[0].convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(inkFound(want0, page0, green, 3), 0.97);
    EXPECT_GT(inkFound(page0, want0, green, 3), 0.97);
    const QImage page1 = doc.render(1, raster[1].size()).convertToFormat(QImage::Format_ARGB32);
    const QImage want1 = raster[1].convertToFormat(QImage::Format_ARGB32);
    EXPECT_GT(inkFound(want1, page1, RED, 3), 0.97);
    EXPECT_GT(inkFound(page1, want1, RED, 3), 0.97);
}

TEST_F(Documents, CtrlShiftOAsksForADocumentAndOpensIt)
{
    const QString pdf = lessonPdf();
    resetBoardState();
    auto* form = new BoardForm();
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form, tsupport::SLOW_MS));
    EXPECT_EQ(form->documentDialog(), nullptr);
    QTest::keyClick(boardWidget, Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
    QFileDialog* dialog = form->documentDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal() && dialog->windowModality() == Qt::ApplicationModal);
    dialog->selectFile(pdf);
    QMetaObject::invokeMethod(dialog, "accept");
    ASSERT_TRUE(waitFor([&] { return pages.size() == 3u; }));
    EXPECT_EQ(pages[1]->bkgFile, pdf);
    EXPECT_TRUE(waitFor([&] { return form->documentDialog() == nullptr; }));
    delete form;
    resetBoardState();
}

TEST_F(Documents, OpeningAndWritingOnADocumentAgainAndAgainKeepsMemoryFlat)
{
    // A terminal runs all week: every round opens the PDF again, writes on
    // it, pages through it, undoes and redoes. Resident memory after the
    // warm-up rounds stays where it was (the sanitizer builds check leaks
    // instead: their allocator keeps freed memory on purpose).
    BoardWidget* w = makeBoard(960, 540);
    const QString pdf = lessonPdf();
    auto rss = [] {
        QFile f("/proc/self/statm");
        return f.open(QIODevice::ReadOnly) ? f.readAll().split(' ').value(1).toLongLong() * ::sysconf(_SC_PAGESIZE)
                                           : 0LL;
    };
    qint64 warm = 0;
    for (int round = 0; round < 60; ++round) {
        ASSERT_TRUE(w->openDocument(pdf));
        zigzag(w, round % 2, 100, 100 + round % 7 * 10, 1000 + round * 1000);
        w->nextPage();
        w->nextPage();
        w->priorPage();
        w->undo();
        w->redo();
        if (round == 10)
            warm = rss();
    }
    ASSERT_EQ(pages.size(), 3u);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_LT(rss() - warm, qint64(24) << 20) << "from " << warm / 1024 << " KiB";
#endif
}
