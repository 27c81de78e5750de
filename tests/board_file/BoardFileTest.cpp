// Board files: a board written and read back is the same board (structure,
// times and pixels), every damaged or foreign form is refused with a message,
// writes are atomic, and the version field is honoured.
#include "BoardFileTestUtil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstring>

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
    // First page: empty file name (4 bytes), then its background type ...
    EXPECT_TRUE(refused(patched(16, le32(7))).contains("malformed"));
    // ... its ink box, then its stroke count.
    QByteArray nan(8, '\0');
    const double qnan = std::nan("");
    std::memcpy(nan.data(), &qnan, 8);
    EXPECT_TRUE(refused(patched(28, nan)).contains("malformed"));
    EXPECT_TRUE(refused(patched(60, le32(0x7FFFFFFF))).contains("malformed"));
    // First stroke: type, width, colour.
    EXPECT_TRUE(refused(patched(64, QByteArray(1, '\x09'))).contains("malformed"));
    EXPECT_TRUE(refused(patched(69, le32(6))).contains("malformed"));
    // Its segment count, the first segment's shared mark and point count.
    EXPECT_TRUE(refused(patched(85, le32(0))).contains("malformed"));
    EXPECT_TRUE(refused(patched(89, QByteArray(1, '\x01'))).contains("malformed"));
    EXPECT_TRUE(refused(patched(90, le32(0))).contains("malformed"));
    EXPECT_TRUE(refused(patched(90, le32(0x10000000))).contains("malformed"));
    // Extra bytes inside the checked payload.
    EXPECT_TRUE(refused(withPayload(payload + QByteArray(5, '\0'))).contains("malformed"));
}

TEST_F(BoardFileTest, VersionIsCheckedAndNamed)
{
    QByteArray file = richFile();
    ASSERT_EQ(qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(file.constData() + 8)), 1u);
    QByteArray newer = file;
    qToLittleEndian<quint32>(2, reinterpret_cast<uchar*>(newer.data() + 8));
    const QString err = refused(newer);
    EXPECT_TRUE(err.contains("version 2")) << err.toStdString();
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
