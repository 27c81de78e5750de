#include "BoardFile.h"

#include "RegularFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

const char BoardFile::MAGIC[8] = {'T', 'A', 'V', 'L', 'O', 'B', 'R', 'D'};
const quint32 BoardFile::VERSION = 2;
const qint64 BoardFile::MAX_BYTES = qint64(64) << 20;
const double BoardFile::MAX_COORDINATE = 1e6;
const qint64 BoardFile::MAX_TIME_MS = qint64(1) << 50;
const int BoardFile::MAX_WIDTH = 64;

namespace {

// magic, version, payload length; the payload; its MD5.
constexpr int HEADER_BYTES = 8 + 4 + 8;
constexpr int DIGEST_BYTES = 16;
// The smallest encodings, to bound counts by the bytes that remain: every
// segment brings at least one point of its own, every stroke a segment, so
// what a file costs in memory stays within a small multiple of its size.
constexpr int MIN_PAGE_BYTES = 4 + 3 * 4 + 4 * 8 + 4;
constexpr int MIN_POINT_BYTES = 8 + 1 + 2 * 8;
constexpr int MIN_SEGMENT_BYTES = 1 + 4 + MIN_POINT_BYTES;
constexpr int MIN_STROKE_BYTES = 1 + 4 + 4 + 8 + 4 + 4 + MIN_SEGMENT_BYTES;
// The longest picture or document path a page may name.
constexpr quint32 MAX_PATH_BYTES = 4096;
// More pages than any document a board opens.
constexpr qint32 MAX_DOCUMENT_PAGE = 100000;

// Little-endian appender.
class Out {
public:
    explicit Out(QByteArray& buf) : buf_(buf) {}
    template <typename T>
    void put(T v)
    {
        const T le = qToLittleEndian(v);
        buf_.append(reinterpret_cast<const char*>(&le), sizeof le);
    }
    void u8(quint8 v) { buf_.append(static_cast<char>(v)); }
    void u32(quint32 v) { put(v); }
    void i32(qint32 v) { put(v); }
    void i64(qint64 v) { put(v); }
    void f32(float v)
    {
        quint32 bits;
        std::memcpy(&bits, &v, sizeof bits);
        put(bits);
    }
    void f64(double v)
    {
        quint64 bits;
        std::memcpy(&bits, &v, sizeof bits);
        put(bits);
    }
    void bytes(const QByteArray& b)
    {
        u32(static_cast<quint32>(b.size()));
        buf_.append(b);
    }

private:
    QByteArray& buf_;
};

// Little-endian reader over a byte range; every read past the end fails and
// makes the reader fail for good.
class In {
public:
    In(const char* data, qint64 size) : p_(data), end_(data + size) {}
    bool ok() const { return ok_; }
    qint64 left() const { return end_ - p_; }
    template <typename T>
    T get()
    {
        T v{};
        if (!ok_ || left() < static_cast<qint64>(sizeof v)) {
            ok_ = false;
            return v;
        }
        std::memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return qFromLittleEndian(v);
    }
    quint8 u8() { return get<quint8>(); }
    quint32 u32() { return get<quint32>(); }
    qint32 i32() { return get<qint32>(); }
    qint64 i64() { return get<qint64>(); }
    float f32()
    {
        const quint32 bits = get<quint32>();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    double f64()
    {
        const quint64 bits = get<quint64>();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    QByteArray bytes()
    {
        const quint32 n = u32();
        if (!ok_ || left() < n) {
            ok_ = false;
            return QByteArray();
        }
        QByteArray b(p_, static_cast<int>(n));
        p_ += n;
        return b;
    }
    // A count of records of at least minBytes each that can still follow.
    bool count(quint32 n, int minBytes)
    {
        if (ok_ && static_cast<qint64>(n) * minBytes > left())
            ok_ = false;
        return ok_;
    }

private:
    const char* p_;
    const char* end_;
    bool ok_ = true;
};

void putPoint(Out& o, const StrokePoint* sp)
{
    o.i64(sp->time);
    o.u8(sp->point2 != nullptr ? 1 : 0);
    o.f64(sp->point->x());
    o.f64(sp->point->y());
    if (sp->point2 != nullptr) {
        o.f64(sp->point2->x());
        o.f64(sp->point2->y());
    }
}

// A stroke's segments. A segment split off a soft-pen stroke starts with the
// point its predecessor ends with (the same object in memory): such a
// segment is marked and its first point is not repeated.
void putStroke(Out& o, const Stroke* st)
{
    o.u8(static_cast<quint8>(st->type));
    o.i32(st->width);
    o.i32(st->colorIdx);
    o.i64(st->startTime);
    o.f32(st->angle);
    o.u32(static_cast<quint32>(st->segments.size()));
    const StrokePoint* prevLast = nullptr;
    for (const Segment* seg : st->segments) {
        const bool shares = prevLast != nullptr && !seg->points.empty() && seg->points.front() == prevLast;
        o.u8(shares ? 1 : 0);
        o.u32(static_cast<quint32>(seg->points.size() - (shares ? 1 : 0)));
        for (size_t i = shares ? 1 : 0; i < seg->points.size(); ++i)
            putPoint(o, seg->points[i]);
        prevLast = seg->getLastPoint();
    }
}

bool fail(QString* error, const QString& text)
{
    if (error != nullptr)
        *error = text;
    return false;
}

// A coordinate the board can have drawn: finite and within the page extents
// (with room to spare); 1e300 is not.
bool plausible(double v)
{
    return std::isfinite(v) && std::fabs(v) <= BoardFile::MAX_COORDINATE;
}

// A time of Utils::clocktime in ms; far enough from the limits of 64 bits that
// differences of two of them never overflow.
bool plausibleTime(qint64 t)
{
    return t >= -BoardFile::MAX_TIME_MS && t <= BoardFile::MAX_TIME_MS;
}

bool readPoint(In& in, StrokePoint& sp)
{
    const qint64 time = in.i64();
    const quint8 corner = in.u8();
    const double x = in.f64(), y = in.f64();
    if (!in.ok() || corner > 1 || !plausible(x) || !plausible(y) || !plausibleTime(time))
        return false;
    sp = corner == 1 ? StrokePoint(time, 0, 0, 0, 0) : StrokePoint(time, 0, 0);
    sp.time = time;
    *sp.point = QPointF(x, y);
    if (corner == 1) {
        const double x2 = in.f64(), y2 = in.f64();
        if (!in.ok() || !plausible(x2) || !plausible(y2))
            return false;
        *sp.point2 = QPointF(x2, y2);
    }
    return true;
}

// Rebuilds the segments as drawing built them: a marked segment is split
// off its predecessor, so the two share their boundary point and its store.
std::unique_ptr<Stroke> readStroke(In& in, QString* why)
{
    const quint8 type = in.u8();
    const qint32 width = in.i32();
    const qint32 colorIdx = in.i32();
    const qint64 startTime = in.i64();
    const float angle = in.f32();
    const quint32 segCount = in.u32();
    if (!in.ok())
        return nullptr;
    // The kinds the board draws (never TT_UNKNOW), its pen widths, its palette.
    if (type < TT_E_RECT || type > TT_P_HARD || width < 0 || width > BoardFile::MAX_WIDTH || colorIdx < 0 ||
        colorIdx > 5 || segCount == 0 || !plausibleTime(startTime) || !std::isfinite(angle)) {
        *why = QStringLiteral("a stroke with impossible values");
        return nullptr;
    }
    if (!in.count(segCount, MIN_SEGMENT_BYTES))
        return nullptr;
    std::unique_ptr<Stroke> st(new Stroke(static_cast<StrokeType>(type), width, colorIdx, startTime, QPointF()));
    for (Segment* seg : st->segments)
        delete seg;
    st->segments.clear();
    st->angle = angle;
    for (quint32 s = 0; s < segCount; ++s) {
        const quint8 shares = in.u8();
        const quint32 n = in.u32();
        if (!in.ok() || !in.count(n, MIN_POINT_BYTES))
            return nullptr;
        // Every segment the writer writes has a point of its own: a segment
        // split off another holds at least its first new sample.
        if (shares > 1 || (shares == 1 && s == 0) || n == 0) {
            *why = QStringLiteral("a stroke with malformed segments");
            return nullptr;
        }
        StrokePoint sp;
        Segment* seg = nullptr;
        quint32 i = 0;
        if (shares == 0) {
            if (!readPoint(in, sp)) {
                *why = QStringLiteral("a malformed point");
                return nullptr;
            }
            seg = new Segment(sp.time, QPointF());
            *seg->points.front() = sp;
            st->segments.push_back(seg);
            i = 1;
        } else {
            seg = st->segments.back();
        }
        const unsigned boundary = static_cast<unsigned>(seg->points.size() - 1);
        for (; i < n; ++i) {
            if (!readPoint(in, sp)) {
                *why = QStringLiteral("a malformed point");
                return nullptr;
            }
            seg->append(new StrokePoint(sp));
        }
        if (shares == 1)
            st->segments.push_back(seg->split(boundary));
    }
    return st;
}

std::unique_ptr<Page> readPage(In& in, quint32 version, QString* why)
{
    const QByteArray file = in.bytes();
    const qint32 type = in.i32();
    const qint32 bkgPage = version >= 2 ? in.i32() : -1;
    const qint32 gridType = in.i32();
    const qint32 gridSize = in.i32();
    const double minX = in.f64(), minY = in.f64(), maxX = in.f64(), maxY = in.f64();
    const quint32 strokeCount = in.u32();
    if (!in.ok())
        return nullptr;
    // Any grid numbers render (unknown ones as no grid or clamped sizes).
    if (type < BT_GREEN || type > BT_IMG || !std::isfinite(minX) || !std::isfinite(minY) || !std::isfinite(maxX) ||
        !std::isfinite(maxY) || static_cast<quint32>(file.size()) > MAX_PATH_BYTES || bkgPage < -1 ||
        bkgPage > MAX_DOCUMENT_PAGE || (bkgPage >= 0 && file.isEmpty())) {
        *why = QStringLiteral("a page with impossible values");
        return nullptr;
    }
    if (!in.count(strokeCount, MIN_STROKE_BYTES))
        return nullptr;
    std::unique_ptr<Page> pg(new Page(QString::fromUtf8(file), static_cast<BkgType>(type), gridType, gridSize));
    // A page keeps its image file after a change to a colour type.
    pg->setBkgType(static_cast<BkgType>(type));
    pg->bkgPage = bkgPage;
    pg->strokes.reserve(strokeCount);
    for (quint32 i = 0; i < strokeCount; ++i) {
        std::unique_ptr<Stroke> st = readStroke(in, why);
        if (!st)
            return nullptr;
        pg->strokes.push_back(st.release());
    }
    // The ink box is the ink's, whatever the file says.
    pg->updateMaxPoint();
    return pg;
}

}  // namespace

QByteArray BoardFile::encode(const std::vector<Page*>& pages, int pageIdx, BkgType newPageType)
{
    QByteArray payload;
    payload.reserve(64 * 1024);
    Out o(payload);
    o.u32(static_cast<quint32>(pages.size()));
    o.i32(pageIdx);
    o.i32(newPageType);
    for (const Page* pg : pages) {
        o.bytes(pg->bkgFile.toUtf8());
        o.i32(pg->bkgType);
        o.i32(pg->bkgPage);
        o.i32(pg->gridType);
        o.i32(pg->gridSize);
        o.f64(pg->minPoint.x());
        o.f64(pg->minPoint.y());
        o.f64(pg->maxPoint.x());
        o.f64(pg->maxPoint.y());
        o.u32(static_cast<quint32>(pg->strokes.size()));
        for (const Stroke* st : pg->strokes)
            putStroke(o, st);
    }

    QByteArray file;
    file.reserve(HEADER_BYTES + payload.size() + DIGEST_BYTES);
    file.append(MAGIC, sizeof MAGIC);
    Out h(file);
    h.u32(VERSION);
    h.i64(payload.size());
    file.append(payload);
    file.append(QCryptographicHash::hash(payload, QCryptographicHash::Md5));
    return file;
}

bool BoardFile::decode(const QByteArray& bytes, Contents& out, QString* error)
{
    if (bytes.size() < static_cast<int>(sizeof MAGIC) || std::memcmp(bytes.constData(), MAGIC, sizeof MAGIC) != 0)
        return fail(error, QStringLiteral("not a Tavlo board file"));
    In head(bytes.constData() + sizeof MAGIC, bytes.size() - static_cast<int>(sizeof MAGIC));
    const quint32 version = head.u32();
    const qint64 length = head.i64();
    if (!head.ok())
        return fail(error, QStringLiteral("truncated (%1 bytes)").arg(bytes.size()));
    if (version == 0 || version > VERSION)
        return fail(error, QStringLiteral("board file version %1; this Tavlo reads up to version %2")
                               .arg(version)
                               .arg(VERSION));
    if (length < 0 || length > MAX_BYTES)
        return fail(error, QStringLiteral("damaged (announces %1 bytes of content)").arg(length));
    const qint64 expected = HEADER_BYTES + length + DIGEST_BYTES;
    if (bytes.size() < expected)
        return fail(error, QStringLiteral("truncated (%1 of %2 bytes)").arg(bytes.size()).arg(expected));
    if (bytes.size() > expected)
        return fail(error, QStringLiteral("%1 bytes of trailing garbage").arg(bytes.size() - expected));
    const QByteArray payload = QByteArray::fromRawData(bytes.constData() + HEADER_BYTES, static_cast<int>(length));
    if (QCryptographicHash::hash(payload, QCryptographicHash::Md5) != bytes.right(DIGEST_BYTES))
        return fail(error, QStringLiteral("damaged (checksum mismatch)"));

    In in(payload.constData(), payload.size());
    const quint32 pageCount = in.u32();
    const qint32 pageIdx = in.i32();
    const qint32 newType = in.i32();
    if (in.ok() && in.count(pageCount, MIN_PAGE_BYTES) &&
        (newType < BT_GREEN || newType > BT_IMG || pageIdx < (pageCount == 0 ? -1 : 0) ||
         pageIdx >= static_cast<qint64>(pageCount) || (pageCount == 0 && pageIdx != -1)))
        return fail(error, QStringLiteral("malformed (board header)"));
    Contents c;
    QString why;
    for (quint32 i = 0; in.ok() && i < pageCount; ++i) {
        std::unique_ptr<Page> pg = readPage(in, version, &why);
        if (!pg)
            break;
        c.pages.push_back(std::move(pg));
    }
    if (!why.isEmpty())
        return fail(error, QStringLiteral("malformed (%1)").arg(why));
    if (!in.ok() || c.pages.size() != pageCount)
        return fail(error, QStringLiteral("malformed (content shorter than announced)"));
    if (in.left() != 0)
        return fail(error, QStringLiteral("malformed (%1 unread bytes)").arg(in.left()));
    c.pageIdx = pageIdx;
    c.newPageType = static_cast<BkgType>(newType);
    out = std::move(c);
    return true;
}

bool BoardFile::read(const QString& path, Contents& out, QString* error)
{
    // Header, payload and digest: the payload limit plus a few bytes.
    QByteArray bytes;
    if (!RegularFile::read(path, MAX_BYTES + HEADER_BYTES + DIGEST_BYTES, bytes, error))
        return false;
    if (!decode(bytes, out, error))
        return false;
    // A picture or document named by a relative path lies beside the board
    // file, wherever the board is opened from.
    const QDir dir = QFileInfo(path).absoluteDir();
    for (auto& pg : out.pages)
        if (!pg->bkgFile.isEmpty() && QFileInfo(pg->bkgFile).isRelative())
            pg->bkgFile = QDir::cleanPath(dir.absoluteFilePath(pg->bkgFile));
    return true;
}

std::unique_ptr<Page> BoardFile::copy(const Page& pg)
{
    // Through the file image: the copy shares nothing with the original and
    // its split segments share their boundary points as drawing built them.
    std::vector<Page*> one{const_cast<Page*>(&pg)};
    Contents c;
    if (!decode(encode(one, 0, BT_GREEN), c, nullptr) || c.pages.size() != 1)
        return nullptr;
    return std::move(c.pages.front());
}

bool BoardFile::writeAtomic(const QString& path, const QByteArray& bytes, QString* error)
{
    static std::atomic<unsigned> serial{0};
    const QFileInfo info(path);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray tmp = target + QByteArray(".tmp-") + QByteArray::number(static_cast<qint64>(getpid())) + '-' +
                           QByteArray::number(serial.fetch_add(1));
    const int fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return fail(error, QStringLiteral("cannot create %1: %2").arg(QFile::decodeName(tmp), strerror(errno)));
    const char* p = bytes.constData();
    qint64 left = bytes.size();
    QString what;
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            what = QStringLiteral("write: %1").arg(strerror(n < 0 ? errno : ENOSPC));
            break;
        }
        p += n;
        left -= n;
    }
    if (what.isEmpty() && ::fsync(fd) != 0)
        what = QStringLiteral("fsync: %1").arg(strerror(errno));
    if (::close(fd) != 0 && what.isEmpty())
        what = QStringLiteral("close: %1").arg(strerror(errno));
    if (what.isEmpty() && ::rename(tmp.constData(), target.constData()) != 0)
        what = QStringLiteral("rename: %1").arg(strerror(errno));
    if (!what.isEmpty()) {
        ::unlink(tmp.constData());
        return fail(error, QStringLiteral("%1: %2").arg(info.absoluteFilePath(), what));
    }
    // The rename itself is durable once the folder is synced.
    const int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}
