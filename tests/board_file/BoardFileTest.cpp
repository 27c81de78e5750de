// Board files: a board written and read back is the same board (structure,
// times and pixels), every damaged or foreign form is refused with a message,
// writes are atomic, and the version field is honoured.
#include "BoardFileTestUtil.h"
#include "TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace btest;
using namespace bftest;

namespace {

class BoardFileTest : public BoardTest {
protected:
    QByteArray richFile()
    {
        BoardWidget* w = makeBoard(400, 300);
        drawRichBoard(w);
        return BoardFile::encode(pages, pageIdx, bkgType);
    }

    // A file image with the payload replaced and its length and digest made
    // to match, so that only the content check can refuse it.
    static QByteArray withPayload(const QByteArray& payload)
    {
        QByteArray f(BoardFile::MAGIC, 8);
        quint32 v = qToLittleEndian(BoardFile::VERSION);
        f.append(reinterpret_cast<const char*>(&v), 4);
        qint64 n = qToLittleEndian(static_cast<qint64>(payload.size()));
        f.append(reinterpret_cast<const char*>(&n), 8);
        f.append(payload);
        f.append(QCryptographicHash::hash(payload, QCryptographicHash::Md5));
        return f;
    }
    static QByteArray payloadOf(const QByteArray& file) { return file.mid(20, file.size() - 20 - 16); }

    // decode() refuses bytes with a message and leaves out untouched.
    static QString refused(const QByteArray& bytes)
    {
        BoardFile::Contents c;
        c.pageIdx = 77;
        QString err;
        EXPECT_FALSE(BoardFile::decode(bytes, c, &err));
        EXPECT_FALSE(err.isEmpty());
        EXPECT_EQ(c.pageIdx, 77);
        EXPECT_TRUE(c.pages.empty());
        return err;
    }

    QTemporaryDir tmp;
};

}  // namespace

TEST_F(BoardFileTest, RoundTripKeepsStructureTimesAndPixels)
{
    BoardWidget* w = makeBoard(400, 300);
    drawRichBoard(w);
    // A picture page with ink ...
    QImage picture(640, 360, QImage::Format_ARGB32);
    picture.fill(0xFF3060A0);
    const QString picturePath = tmp.filePath("picture.png");
    ASSERT_TRUE(picture.save(picturePath));
    w->newPage(picturePath, true);
    zigzag(w, 0, 40, 40, 20000);
    // ... and a page that was a picture page and turned to a colour keeps
    // its file.
    pages[1]->bkgFile = tmp.filePath("gone.png");
    w->loadPage(1);
    const std::vector<QImage> before = renderAll(w);
    const QImage shownBefore = composed(w);
    const QByteArray file = BoardFile::encode(pages, pageIdx, bkgType);

    // Soft-pen strokes were split: the file must keep shared boundaries.
    bool sawSplit = false;
    for (Stroke* st : pages[0]->strokes)
        sawSplit |= st->segments.size() > 2;
    ASSERT_TRUE(sawSplit);

    BoardFile::Contents c;
    QString err;
    ASSERT_TRUE(BoardFile::decode(file, c, &err)) << err.toStdString();
    ASSERT_EQ(c.pages.size(), 4u);
    EXPECT_EQ(c.pageIdx, 1);
    EXPECT_EQ(c.pages[3]->bkgType, BT_IMG);
    EXPECT_EQ(c.newPageType, BT_BLACK);
    for (size_t i = 0; i < pages.size(); ++i) {
        const Page* a = pages[i];
        const Page* b = c.pages[i].get();
        EXPECT_EQ(a->bkgFile, b->bkgFile);
        EXPECT_EQ(a->bkgType, b->bkgType);
        EXPECT_EQ(a->gridType, b->gridType);
        EXPECT_EQ(a->gridSize, b->gridSize);
        EXPECT_EQ(a->minPoint, b->minPoint);
        EXPECT_EQ(a->maxPoint, b->maxPoint);
        ASSERT_EQ(a->strokes.size(), b->strokes.size());
        for (size_t s = 0; s < a->strokes.size(); ++s) {
            const Stroke* x = a->strokes[s];
            const Stroke* y = b->strokes[s];
            EXPECT_EQ(x->type, y->type);
            EXPECT_EQ(x->width, y->width);
            EXPECT_EQ(x->colorIdx, y->colorIdx);
            EXPECT_EQ(x->startTime, y->startTime);
            EXPECT_EQ(x->angle, y->angle);
            ASSERT_EQ(x->segments.size(), y->segments.size());
            for (size_t g = 0; g < x->segments.size(); ++g) {
                const auto& px = x->segments[g]->points;
                const auto& py = y->segments[g]->points;
                ASSERT_EQ(px.size(), py.size());
                for (size_t k = 0; k < px.size(); ++k) {
                    EXPECT_EQ(px[k]->time, py[k]->time);
                    EXPECT_EQ(*px[k]->point, *py[k]->point);
                    ASSERT_EQ(px[k]->point2 == nullptr, py[k]->point2 == nullptr);
                    if (px[k]->point2 != nullptr) {
                        EXPECT_EQ(*px[k]->point2, *py[k]->point2);
                    }
                }
                // The boundary point is one object in both segments.
                if (g > 0) {
                    EXPECT_EQ(y->segments[g]->points.front(), y->segments[g - 1]->points.back());
                }
            }
        }
    }

    install(w, c);
    const std::vector<QImage> after = renderAll(w);
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_TRUE(before[i] == after[i]) << "page " << i;
    EXPECT_TRUE(composed(w) == shownBefore);
    EXPECT_EQ(after[3].size(), QSize(640, 360));  // the picture page exports at the picture's size
    // Written again, the board gives the same bytes.
    EXPECT_EQ(BoardFile::encode(pages, pageIdx, bkgType), file);
}

TEST_F(BoardFileTest, ReadBackBoardGoesOnDrawingLikeTheOriginal)
{
    // A stroke continued after a reload splits and releases its points as
    // one drawn in one go: the rebuilt segments share their store.
    BoardWidget* w = makeBoard(400, 300);
    zigzag(w, 0, 20, 20, 1000);
    BoardFile::Contents c;
    ASSERT_TRUE(BoardFile::decode(BoardFile::encode(pages, pageIdx, bkgType), c, nullptr));
    install(w, c);
    touchModel = PEN;
    for (int i = 0; i < 40; ++i)
        pages[0]->strokes.back()->addPoint(2000 + i, QPointF(200 + 5 * i, 20 + (i % 6) * 9));
    touchModel = IDEL;
    EXPECT_GT(pages[0]->strokes.back()->segments.size(), 2u);
    w->clear();  // releases every point once (checked by the sanitizer builds)
    EXPECT_TRUE(pages[0]->strokes.empty());
}

TEST_F(BoardFileTest, EmptyBoardRoundTrips)
{
    BoardFile::Contents c;
    ASSERT_TRUE(BoardFile::decode(BoardFile::encode({}, -1, BT_WHITE), c, nullptr));
    EXPECT_TRUE(c.pages.empty());
    EXPECT_EQ(c.pageIdx, -1);
    EXPECT_EQ(c.newPageType, BT_WHITE);
}

TEST_F(BoardFileTest, ForeignAndEmptyFilesAreRefused)
{
    EXPECT_TRUE(refused(QByteArray()).contains("not a Tavlo board file"));
    EXPECT_TRUE(refused(QByteArray("TAVLO")).contains("not a Tavlo board file"));
    QByteArray png;
    {
        QImage img(8, 8, QImage::Format_ARGB32);
        img.fill(Qt::red);
        const QString p = tmp.filePath("x.png");
        ASSERT_TRUE(img.save(p));
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        png = f.readAll();
    }
    EXPECT_TRUE(refused(png).contains("not a Tavlo board file"));
    EXPECT_TRUE(refused(QByteArray("{\"pages\": []}\n")).contains("not a Tavlo board file"));
}

TEST_F(BoardFileTest, EveryTruncationIsRefused)
{
    const QByteArray file = richFile();
    // Every cut in the header and the digest, and a spread through the payload.
    std::vector<int> cuts;
    for (int n = 8; n < 40; ++n)
        cuts.push_back(n);
    for (int n = file.size() - 17; n < file.size(); ++n)
        cuts.push_back(n);
    for (int n = 40; n < file.size() - 17; n += std::max(1, file.size() / 97))
        cuts.push_back(n);
    for (int n : cuts)
        EXPECT_TRUE(refused(file.left(n)).contains("truncated")) << n;
}

TEST_F(BoardFileTest, DamagedBytesAndTrailingGarbageAreRefused)
{
    const QByteArray file = richFile();
    for (int at : {20, 21, file.size() / 2, file.size() - 17, file.size() - 1}) {
        QByteArray bad = file;
        bad[at] = static_cast<char>(bad[at] ^ 0x10);
        const QString err = refused(bad);
        EXPECT_TRUE(err.contains("checksum")) << at << " " << err.toStdString();
    }
    EXPECT_TRUE(refused(file + QByteArray(3, '\0')).contains("trailing"));
}

TEST_F(BoardFileTest, MalformedContentWithAValidChecksumIsRefused)
{
    const QByteArray file = richFile();
    const QByteArray payload = payloadOf(file);
    ASSERT_EQ(withPayload(payload), file);

    auto patched = [&](int offset, const QByteArray& bytes) {
        QByteArray p = payload;
        p.replace(offset, bytes.size(), bytes);
        return withPayload(p);
    };
    auto le32 = [](quint32 v) {
        v = qToLittleEndian(v);
        return QByteArray(reinterpret_cast<const char*>(&v), 4);
    };
    // Board header: page count, page index, type of new pages.
    EXPECT_TRUE(refused(patched(0, le32(0xFFFFFFFFu))).contains("malformed"));  // no huge allocation
    EXPECT_TRUE(refused(patched(0, le32(4))).contains("malformed"));
    EXPECT_TRUE(refused(patched(4, le32(3))).contains("malformed"));
    EXPECT_TRUE(refused(patched(4, le32(0xFFFFFFFFu))).contains("malformed"));
    EXPECT_TRUE(refused(patched(8, le32(9))).contains("malformed"));
    // First page: empty file name (4 bytes), then its background type, its
    // document page (-1: none; a page of no file is none either) ...
    EXPECT_TRUE(refused(patched(16, le32(7))).contains("malformed"));
    EXPECT_TRUE(refused(patched(20, le32(0xFFFFFFFEu))).contains("malformed"));
    EXPECT_TRUE(refused(patched(20, le32(0))).contains("malformed"));
    // ... its grid, its ink box, then its stroke count.
    QByteArray nan(8, '\0');
    const double qnan = std::nan("");
    std::memcpy(nan.data(), &qnan, 8);
    EXPECT_TRUE(refused(patched(32, nan)).contains("malformed"));
    EXPECT_TRUE(refused(patched(64, le32(0x7FFFFFFF))).contains("malformed"));
    // First stroke: type, width, colour.
    EXPECT_TRUE(refused(patched(68, QByteArray(1, '\x09'))).contains("malformed"));
    EXPECT_TRUE(refused(patched(68, QByteArray(1, '\x00'))).contains("malformed"));
    EXPECT_TRUE(refused(patched(69, le32(65))).contains("malformed"));
    EXPECT_TRUE(refused(patched(73, le32(6))).contains("malformed"));
    // Its segment count, the first segment's shared mark and point count.
    EXPECT_TRUE(refused(patched(89, le32(0))).contains("malformed"));
    EXPECT_TRUE(refused(patched(93, QByteArray(1, '\x01'))).contains("malformed"));
    EXPECT_TRUE(refused(patched(94, le32(0))).contains("malformed"));
    EXPECT_TRUE(refused(patched(94, le32(0x10000000))).contains("malformed"));
    // Extra bytes inside the checked payload.
    EXPECT_TRUE(refused(withPayload(payload + QByteArray(5, '\0'))).contains("malformed"));
}

TEST_F(BoardFileTest, VersionIsCheckedAndNamed)
{
    QByteArray file = richFile();
    ASSERT_EQ(qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(file.constData() + 8)), 2u);
    QByteArray newer = file;
    qToLittleEndian<quint32>(3, reinterpret_cast<uchar*>(newer.data() + 8));
    const QString err = refused(newer);
    EXPECT_TRUE(err.contains("version 3")) << err.toStdString();
    QByteArray zero = file;
    qToLittleEndian<quint32>(0, reinterpret_cast<uchar*>(zero.data() + 8));
    EXPECT_TRUE(refused(zero).contains("version 0"));
    // A length no board file has (and that would overflow the size sums).
    QByteArray huge = file;
    qToLittleEndian<qint64>(0x7FFFFFFFFFFFFFF0LL, reinterpret_cast<uchar*>(huge.data() + 12));
    EXPECT_TRUE(refused(huge).contains("damaged")) << refused(huge).toStdString();
    qToLittleEndian<qint64>(-5, reinterpret_cast<uchar*>(huge.data() + 12));
    EXPECT_TRUE(refused(huge).contains("damaged"));
}

TEST_F(BoardFileTest, AtomicWriteReplacesWholeOrNotAtAll)
{
    const QString path = tmp.filePath("b.tvboard");
    QString err;
    ASSERT_TRUE(BoardFile::writeAtomic(path, QByteArray("first"), &err)) << err.toStdString();
    ASSERT_TRUE(BoardFile::writeAtomic(path, QByteArray("second, longer"), &err)) << err.toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("second, longer"));
    f.close();
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{"b.tvboard"});

    // The rename fails (the target is a folder that is not empty): the
    // target stays as it was, no temporary file stays, and the error says so.
    const QString dirTarget = tmp.filePath("taken");
    ASSERT_TRUE(QDir().mkpath(dirTarget + "/inside"));
    EXPECT_FALSE(BoardFile::writeAtomic(dirTarget, QByteArray("x"), &err));
    EXPECT_TRUE(err.contains("rename")) << err.toStdString();
    EXPECT_TRUE(QFileInfo(dirTarget + "/inside").isDir());
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files), QStringList{"b.tvboard"});

    // A folder that does not exist: nothing is created.
    EXPECT_FALSE(BoardFile::writeAtomic(tmp.filePath("nope/b.tvboard"), QByteArray("x"), &err));
    EXPECT_FALSE(QFileInfo::exists(tmp.filePath("nope")));
}

TEST_F(BoardFileTest, ReadNamesUnreadableFiles)
{
    BoardFile::Contents c;
    QString err;
    EXPECT_FALSE(BoardFile::read(tmp.filePath("missing.tvboard"), c, &err));
    EXPECT_TRUE(err.contains("cannot be read")) << err.toStdString();
    const QString path = tmp.filePath("ok.tvboard");
    ASSERT_TRUE(BoardFile::writeAtomic(path, richFile(), &err));
    EXPECT_TRUE(BoardFile::read(path, c, &err)) << err.toStdString();
    EXPECT_EQ(c.pages.size(), 3u);
}

// ---- what the writer never writes, and files that are no board files -------

namespace {

// A page with one hard-pen stroke of three points, to be spoilt.
std::unique_ptr<Page> threePointPage()
{
    std::unique_ptr<Page> pg(new Page(QString(), BT_WHITE, 0, 0));
    auto* st = new Stroke(TT_P_HARD, 4, 1, 1000, QPointF(10, 20));
    st->addPoint(1010, QPointF(30, 40));
    st->addPoint(1020, QPointF(50, 45));
    pg->strokes.push_back(st);
    pg->updateMaxPoint();
    return pg;
}

QByteArray fileOf(Page* pg)
{
    return BoardFile::encode(std::vector<Page*>{pg}, 0, BT_GREEN);
}

}  // namespace

TEST_F(BoardFileTest, WhatTheWriterNeverWritesIsRefused)
{
    // The untouched page reads.
    {
        std::unique_ptr<Page> pg = threePointPage();
        BoardFile::Contents c;
        ASSERT_TRUE(BoardFile::decode(fileOf(pg.get()), c, nullptr));
    }
    // Segments that bring no point of their own (5 bytes each on disk, far
    // more in memory and a draw call each): a stroke cut at its last point
    // again and again.
    {
        std::unique_ptr<Page> pg = threePointPage();
        Stroke* st = pg->strokes[0];
        for (int i = 0; i < 1000; ++i)
            st->segments.push_back(st->segments.back()->split(static_cast<unsigned>(st->segments.back()->points.size() - 1)));
        EXPECT_TRUE(refused(fileOf(pg.get())).contains("malformed"));
    }
    // Finite but absurd numbers: a coordinate of 1e300, a second corner of
    // -1e300, a time at the end of 64 bits, a start time at its beginning.
    const std::vector<std::function<void(Stroke*)>> spoil = {
        [](Stroke* st) { *st->segments[0]->points[1]->point = QPointF(1e300, 40); },
        [](Stroke* st) { *st->segments[0]->points[2]->point = QPointF(50, -3e9); },
        [](Stroke* st) { st->segments[0]->points[1]->time = std::numeric_limits<qint64>::max(); },
        [](Stroke* st) { st->startTime = std::numeric_limits<qint64>::min(); },
        [](Stroke* st) { st->type = TT_UNKNOW; },
        [](Stroke* st) { st->width = 100000; },
        [](Stroke* st) { st->angle = std::numeric_limits<float>::infinity(); },
    };
    for (size_t i = 0; i < spoil.size(); ++i) {
        std::unique_ptr<Page> pg = threePointPage();
        spoil[i](pg->strokes[0]);
        EXPECT_TRUE(refused(fileOf(pg.get())).contains("malformed")) << "case " << i;
    }
    // A rectangle eraser's second corner too.
    {
        std::unique_ptr<Page> pg = threePointPage();
        auto* er = new Stroke(2000, QRectF(0, 0, 100, 100));
        *er->segments[0]->points[0]->point2 = QPointF(1e301, 5);
        pg->strokes.push_back(er);
        EXPECT_TRUE(refused(fileOf(pg.get())).contains("malformed"));
    }
}

namespace {

// BoardFile::read on another thread, so that a read that blocks fails the
// test instead of hanging it: true when it returned within SLOW_MS, with its
// result and error. A reader left blocked on a FIFO is let go by opening the
// FIFO's other end.
bool readWithin(const QString& path, bool* ok, QString* error)
{
    struct Shared {
        std::mutex m;
        std::condition_variable cv;
        bool done = false, ok = false;
        QString error;
    };
    auto shared = std::make_shared<Shared>();
    std::thread reader([shared, path] {
        BoardFile::Contents c;
        QString err;
        const bool r = BoardFile::read(path, c, &err);
        std::lock_guard<std::mutex> lock(shared->m);
        shared->done = true;
        shared->ok = r;
        shared->error = err;
        shared->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(shared->m);
    const bool returned =
        shared->cv.wait_for(lock, std::chrono::milliseconds(tsupport::SLOW_MS), [&] { return shared->done; });
    lock.unlock();
    if (!returned && QFileInfo(path).isFile() == false) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
    if (returned)
        reader.join();
    else
        reader.detach();  // /dev/zero: it stops at its limit on its own
    *ok = shared->ok;
    *error = shared->error;
    return returned;
}

}  // namespace

TEST_F(BoardFileTest, OnlyRegularFilesWithinTheLimitAreRead)
{
    bool ok = true;
    QString err;
    // A device that never ends.
    ASSERT_TRUE(readWithin("/dev/zero", &ok, &err));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(err.contains("not a regular file")) << err.toStdString();
    // A FIFO nobody writes to.
    const QString fifo = tmp.filePath("lesson.tvboard");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ASSERT_TRUE(readWithin(fifo, &ok, &err)) << "the read blocked on a FIFO";
    EXPECT_FALSE(ok);
    EXPECT_TRUE(err.contains("not a regular file")) << err.toStdString();
    // A file larger than any board (sparse: it costs no disk) is refused by
    // its size, before anything is read.
    EXPECT_EQ(BoardFile::MAX_BYTES, qint64(64) << 20);
    const QString big = tmp.filePath("big.tvboard");
    {
        QFile f(big);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(BoardFile::MAGIC, 8);
        ASSERT_TRUE(f.resize(qint64(100) << 20));
    }
    ASSERT_TRUE(readWithin(big, &ok, &err));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(err.contains("too large")) << err.toStdString();
}

TEST_F(BoardFileTest, VersionOneFilesAreStillRead)
{
    // What the previous writer wrote: a white page with one hard-pen stroke
    // of two points, no document field.
    QByteArray payload;
    auto put = [&payload](auto v) {
        const auto le = qToLittleEndian(v);
        payload.append(reinterpret_cast<const char*>(&le), sizeof le);
    };
    auto f64 = [&put](double d) {
        quint64 bits;
        std::memcpy(&bits, &d, 8);
        put(bits);
    };
    put(quint32(1));  // pages
    put(qint32(0));   // current page
    put(qint32(BT_BLACK));
    put(quint32(0));  // picture path
    put(qint32(BT_WHITE));
    put(qint32(1));  // grid type, size
    put(qint32(2));
    for (double v : {10.0, 20.0, 30.0, 40.0})
        f64(v);
    put(quint32(1));  // strokes
    payload.append(char(TT_P_HARD));
    put(qint32(4));
    put(qint32(1));
    put(qint64(1000));
    put(quint32(0));  // angle 0.0f
    put(quint32(1));  // segments
    payload.append(char(0));
    put(quint32(2));
    for (int i = 0; i < 2; ++i) {
        put(qint64(1000 + 10 * i));
        payload.append(char(0));
        f64(10 + 20 * i);
        f64(20 + 20 * i);
    }
    QByteArray file(BoardFile::MAGIC, 8);
    const quint32 v1 = qToLittleEndian(quint32(1));
    file.append(reinterpret_cast<const char*>(&v1), 4);
    const qint64 len = qToLittleEndian(qint64(payload.size()));
    file.append(reinterpret_cast<const char*>(&len), 8);
    file.append(payload);
    file.append(QCryptographicHash::hash(payload, QCryptographicHash::Md5));

    BoardFile::Contents c;
    QString err;
    ASSERT_TRUE(BoardFile::decode(file, c, &err)) << err.toStdString();
    ASSERT_EQ(c.pages.size(), 1u);
    EXPECT_EQ(c.newPageType, BT_BLACK);
    const Page* pg = c.pages[0].get();
    EXPECT_EQ(pg->bkgType, BT_WHITE);
    EXPECT_EQ(pg->bkgPage, -1);
    EXPECT_EQ(pg->gridSize, 2);
    ASSERT_EQ(pg->strokes.size(), 1u);
    ASSERT_EQ(pg->strokes[0]->segments[0]->points.size(), 2u);
    EXPECT_EQ(*pg->strokes[0]->segments[0]->points[1]->point, QPointF(30, 40));
    // Written again it is a version 2 file that reads the same.
    const QByteArray again = BoardFile::encode({c.pages[0].get()}, 0, BT_BLACK);
    EXPECT_EQ(qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(again.constData() + 8)), 2u);
}

TEST_F(BoardFileTest, DocumentPagesAndRelativePathsComeBack)
{
    // A page of a document keeps its page number; a relative path is found
    // beside the board file, wherever the board is read from.
    std::unique_ptr<Page> doc(new Page(QStringLiteral("lesson.pdf"), BT_GREEN, 0, 0));
    doc->bkgPage = 7;
    std::unique_ptr<Page> picture(new Page(QStringLiteral("../pictures/map.png"), BT_GREEN, 0, 0));
    std::unique_ptr<Page> absolute(new Page(QStringLiteral("/srv/school/slide.png"), BT_GREEN, 0, 0));
    const QByteArray bytes = BoardFile::encode({doc.get(), picture.get(), absolute.get()}, 0, BT_GREEN);
    ASSERT_TRUE(QDir().mkpath(tmp.filePath("boards")));
    const QString path = tmp.filePath("boards/lesson.tvboard");
    QString err;
    ASSERT_TRUE(BoardFile::writeAtomic(path, bytes, &err));
    BoardFile::Contents c;
    ASSERT_TRUE(BoardFile::read(path, c, &err)) << err.toStdString();
    ASSERT_EQ(c.pages.size(), 3u);
    EXPECT_EQ(c.pages[0]->bkgFile, tmp.filePath("boards/lesson.pdf"));
    EXPECT_EQ(c.pages[0]->bkgPage, 7);
    EXPECT_EQ(c.pages[0]->bkgType, BT_IMG);
    EXPECT_EQ(c.pages[1]->bkgFile, tmp.filePath("pictures/map.png"));
    EXPECT_EQ(c.pages[1]->bkgPage, -1);
    EXPECT_EQ(c.pages[2]->bkgFile, QStringLiteral("/srv/school/slide.png"));
    // A copy of a page shares nothing with it and reads back the same.
    std::unique_ptr<Page> copy = BoardFile::copy(*c.pages[0]);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->bkgPage, 7);
    EXPECT_EQ(BoardFile::encode({copy.get()}, 0, BT_GREEN), BoardFile::encode({c.pages[0].get()}, 0, BT_GREEN));
}
