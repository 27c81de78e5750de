// The pen renderers: the hard pen's Bézier chain and culling, the soft pen's
// stamps, widths and running values.
#include "BoardTestUtil.h"

#include <cmath>

using namespace btest;

namespace {

class PenRenderTest : public BoardTest {
protected:
    // A hard-pen stroke through the given page points (one segment).
    static std::unique_ptr<Stroke> hardStroke(const std::vector<QPointF>& pts, int width = 8)
    {
        std::unique_ptr<Stroke> st(new Stroke(TT_P_HARD, width, 1, 0, pts[0]));
        for (size_t i = 1; i < pts.size(); ++i)
            st->addPoint(static_cast<long>(i * 10), pts[i]);
        return st;
    }

    // A soft-pen segment of timed page points (owned by the returned stroke;
    // soft strokes split at corners, so the points go straight into one
    // segment).
    static std::unique_ptr<Segment> segmentOf(const std::vector<std::pair<long, QPointF>>& pts)
    {
        std::unique_ptr<Segment> seg(new Segment(pts[0].first, pts[0].second));
        for (size_t i = 1; i < pts.size(); ++i)
            seg->append(new StrokePoint(pts[i].first, pts[i].second.x(), pts[i].second.y()));
        return seg;
    }

    // Rows of column x that carry ink.
    static int inkRows(const QImage& img, int x, int* firstRow = nullptr)
    {
        int n = 0;
        for (int y = 0; y < img.height(); ++y) {
            if (qAlpha(img.pixel(x, y)) > 0) {
                if (n == 0 && firstRow)
                    *firstRow = y;
                ++n;
            }
        }
        return n;
    }
};

}  // namespace

TEST_F(PenRenderTest, HardPenLineKeepsItsPixelWidthAtAnyZoom)
{
    BoardWidget* w = makeBoard(400, 300);
    for (int width : {2, 4, 8}) {
        for (float scale : {1.0f, 2.0f, 0.5f}) {
            SCOPED_TRACE(testing::Message() << "width " << width << " scale " << scale);
            // The page points that land on view (100, 150) and (300, 150).
            const float ox = 30, oy = -20;
            auto st = hardStroke({QPointF(100 / scale + ox, 150 / scale + oy), QPointF(300 / scale + ox, 150 / scale + oy)},
                                 width);
            QImage img = blank(400, 300);
            QPainter p(&img);
            w->drawPenHard(&p, st->segments[0], static_cast<float>(width), 1, ox, oy, scale);
            p.end();
            const QImage argb = img.convertToFormat(QImage::Format_ARGB32);
            int first = -1;
            EXPECT_EQ(inkRows(argb, 200, &first), width);
            EXPECT_EQ(first, 150 - width / 2);
            EXPECT_EQ(argb.pixel(200, 150), COLORS[1]);
            // Straight: the same rows at both ends of the line.
            EXPECT_EQ(inkRows(argb, 110), width);
            EXPECT_EQ(inkRows(argb, 290), width);
            // Round caps reach beyond the end points by half the width.
            EXPECT_GT(alphaAt(argb, 300 + width / 2 - 1, 150), 0);
            EXPECT_EQ(alphaAt(argb, 300 + width + 1, 150), 0);
        }
    }
}

TEST_F(PenRenderTest, HardPenCurvesFollowTheBezierChain)
{
    BoardWidget* w = makeBoard(400, 300);
    auto render = [&](const std::vector<QPointF>& pts) {
        auto st = hardStroke(pts, 2);
        QImage img = blank(400, 300);
        QPainter p(&img);
        w->drawPenHard(&p, st->segments[0], 2, 0, 0, 0, 1);
        p.end();
        return img.convertToFormat(QImage::Format_ARGB32);
    };
    auto inkNear = [](const QImage& img, QPointF c) {
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (qAlpha(img.pixel(int(c.x()) + dx, int(c.y()) + dy)) > 0)
                    return true;
        return false;
    };
    const QPointF a(100, 200), b(200, 50), c(300, 200), d(350, 100), e(380, 280), f(390, 20);

    // Three points: a quadratic with b as control point, not a polyline.
    QImage q = render({a, b, c});
    EXPECT_TRUE(inkNear(q, QPointF(200, 125)));     // t = 0.5
    EXPECT_TRUE(inkNear(q, QPointF(150, 143.75)));  // t = 0.25
    EXPECT_FALSE(inkNear(q, b));
    EXPECT_FALSE(inkNear(q, QPointF(150, 125)));    // on the polyline a-b

    // Four points: one cubic with b and c as controls, ending at d.
    QImage cu = render({a, b, c, d});
    const QPointF mid = a * 0.125 + b * 0.375 + c * 0.375 + d * 0.125;
    EXPECT_TRUE(inkNear(cu, mid));
    EXPECT_FALSE(inkNear(cu, b));
    EXPECT_FALSE(inkNear(cu, c));

    // Five points: the cubic and then a straight line to the fifth.
    QImage five = render({a, b, c, d, e});
    EXPECT_TRUE(inkNear(five, mid));
    EXPECT_TRUE(inkNear(five, (d + e) / 2));

    // Six points: the cubic and then a quadratic through e to f.
    QImage six = render({a, b, c, d, e, f});
    EXPECT_TRUE(inkNear(six, mid));
    EXPECT_TRUE(inkNear(six, d * 0.25 + e * 0.5 + f * 0.25));
    EXPECT_FALSE(inkNear(six, (d + e) / 2));
}

TEST_F(PenRenderTest, HardPenCullsSegmentsWhollyOutside)
{
    BoardWidget* w = makeBoard(400, 300);
    // Both ends outside, though the line between them crosses the widget.
    auto outside = hardStroke({QPointF(-100, 150), QPointF(1000, 150)});
    QImage img = blank(400, 300);
    QPainter p(&img);
    w->drawPenHard(&p, outside->segments[0], 8, 0, 0, 0, 1);
    p.end();
    EXPECT_EQ(countInk(img), 0);

    // With one point inside the segment is drawn, also beyond the widget.
    auto partly = hardStroke({QPointF(-100, 150), QPointF(200, 150)});
    QPainter p2(&img);
    w->drawPenHard(&p2, partly->segments[0], 8, 0, 0, 0, 1);
    p2.end();
    EXPECT_GT(alphaAt(img, 5, 150), 0);

    // A single point is a ring of the zoomed pen size.
    auto dot = hardStroke({QPointF(100, 100)}, 8);
    QImage one = blank(400, 300);
    QPainter p3(&one);
    w->drawPenHard(&p3, dot->segments[0], 8, 0, 50, 50, 4);  // view (200, 200), radius 16
    p3.end();
    EXPECT_GT(alphaAt(one, 216, 200), 0);
    EXPECT_GT(alphaAt(one, 200, 184), 0);
    EXPECT_EQ(alphaAt(one, 200, 200), 0);  // outlined, not filled
}

TEST_F(PenRenderTest, SoftPieceShorterThanAPixelLaysOneStamp)
{
    BoardWidget* w = makeBoard(400, 300);
    StrokePoint a(0, 100.2f, 80.1f), b(5, 100.7f, 80.6f);
    StampLog log(400, 300);
    {
        QPainter p(&log);
        w->drawLine(&p, 2, &a, &b, 8.4f, 0, 0, 1);
    }
    ASSERT_EQ(log.stamps.size(), 1u);
    EXPECT_EQ(log.stamps[0], QRectF(a.GetX() - 4.5, a.GetY() - 4.5, 9, 9));  // index 8 -> 9 px, centred on the start
    EXPECT_EQ(lastIdx, 8);
    EXPECT_TRUE(lastPoint.equals(&b));

    // In pixels: exactly the tinted stamp.
    QImage img = blank(400, 300), expect = blank(400, 300);
    {
        QPainter p(&img);
        w->drawLine(&p, 2, &a, &b, 8.4f, 0, 0, 1);
        QPainter e(&expect);
        e.drawPixmap(QPointF(a.GetX() - 4.5, a.GetY() - 4.5), *dots[2][7]);
    }
    EXPECT_EQ(img, expect);
    EXPECT_GT(countInk(img), 20);
}

TEST_F(PenRenderTest, ConsecutiveDotsChangeSizeByOneIndex)
{
    BoardWidget* w = makeBoard(400, 300);
    std::vector<StrokePoint> pts;
    for (int i = 0; i < 6; ++i)
        pts.emplace_back(i, 100.0f + 0.3f * i, 100.0f);
    StampLog log(400, 300);
    QPainter p(&log);
    w->drawLine(&p, 0, &pts[0], &pts[1], 3, 0, 0, 1);  // fresh piece: index 3
    EXPECT_EQ(lastIdx, 3);
    std::vector<int> idx;
    for (int i = 1; i < 5; ++i) {
        w->drawLine(&p, 0, &pts[i], &pts[i + 1], 12, 0, 0, 1);  // wants 12
        idx.push_back(lastIdx);
    }
    EXPECT_EQ(idx, (std::vector<int>{4, 5, 6, 7}));
    ASSERT_EQ(log.stamps.size(), 5u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(log.stamps[i + 1].width(), stampSide(idx[i]));
    // Going down again moves one step per dot as well.
    w->drawLine(&p, 0, &pts[5], &pts[5], 1, 0, 0, 1);
    EXPECT_EQ(lastIdx, 6);
    // A dot that does not continue the last piece takes its own size.
    StrokePoint far(9, 300, 200);
    w->drawLine(&p, 0, &far, &far, 12, 0, 0, 1);
    EXPECT_EQ(lastIdx, 12);
}

TEST_F(PenRenderTest, SoftPieceWithAnEndOutsideDrawsNothing)
{
    BoardWidget* w = makeBoard(400, 300);
    StrokePoint prev(0, 10, 10);
    lastPoint = prev;
    lastIdx = 7;
    StrokePoint inA(1, 10, 10), outB(2, -5, 10), outC(3, 150, 301);
    StampLog log(400, 300);
    QPainter p(&log);
    w->drawLine(&p, 0, &inA, &outB, 10, 0, 0, 1);
    w->drawLine(&p, 0, &outC, &inA, 10, 0, 0, 1);
    EXPECT_TRUE(log.stamps.empty());
    EXPECT_EQ(lastIdx, 7);
    EXPECT_TRUE(lastPoint.equals(&prev));
    // The edges count as inside.
    StrokePoint edge(4, 400, 300), edge2(5, 399.5f, 299.5f);
    w->drawLine(&p, 0, &edge, &edge2, 10, 0, 0, 1);
    EXPECT_EQ(log.stamps.size(), 1u);
}

TEST_F(PenRenderTest, SoftPieceGrowsItsStampsAlongTheMajorAxis)
{
    BoardWidget* w = makeBoard(400, 300);
    StrokePoint a(0, 50, 100), b(10, 150, 120);
    lastPoint = a;
    lastIdx = 2;
    StampLog log(400, 300);
    QPainter p(&log);
    w->drawLine(&p, 0, &a, &b, 12, 0, 0, 1);
    // One stamp per pixel along x, 0..100 inclusive.
    ASSERT_EQ(log.stamps.size(), 101u);
    for (size_t i = 0; i < log.stamps.size(); ++i) {
        const QPointF c = log.stamps[i].center();
        EXPECT_DOUBLE_EQ(c.x(), 50.0 + i);
        // The minor axis snaps to whole pixels after the first stamp.
        const double y = i == 0 ? 100 : std::trunc(100 + i * 0.2);
        EXPECT_DOUBLE_EQ(c.y(), y);
        const int k = static_cast<int>(std::trunc(2 + (i + 1) * 10 / 100.0));
        EXPECT_EQ(log.stamps[i].width(), stampSide(k)) << i;
    }
    EXPECT_EQ(lastIdx, 12);
    // The dot size follows the zoom: the same page piece at scale 2.
    StampLog zoomed(400, 300);
    QPainter pz(&zoomed);
    StrokePoint c(20, 60, 60), d(30, 61, 90);
    w->drawLine(&pz, 0, &c, &d, 4, 0, 0, 2);
    ASSERT_EQ(zoomed.stamps.size(), 61u);
    // A piece that does not continue the last one keeps its own size (8).
    for (const QRectF& r : zoomed.stamps)
        ASSERT_EQ(r.width(), stampSide(8));
    EXPECT_EQ(lastIdx, 8);
}

namespace {

// Widths (times ten, from size-index stamps at scale 10) of every piece of a
// soft segment whose pieces have whole-number lengths: in each piece the stamp
// before the last has exactly the piece's own size index.
std::vector<int> pieceIndices(BoardWidget* w, Segment* seg, float width, bool isLast, float& prior)
{
    StampLog log(100000, 100000);
    QPainter p(&log);
    w->drawPenSoft(&p, seg, width, 0, prior, isLast, 0, 0, 10);
    p.end();
    std::vector<int> out;
    size_t at = 0;
    for (size_t i = 1; i < seg->points.size(); ++i) {
        const QPointF a = *seg->points[i - 1]->point * 10, b = *seg->points[i]->point * 10;
        const int dis = static_cast<int>(std::max(std::fabs(b.x() - a.x()), std::fabs(b.y() - a.y())));
        at += dis + 1;
        EXPECT_LE(at, log.stamps.size());
        if (at > log.stamps.size())
            break;
        const int side = static_cast<int>(log.stamps[at - 2].width());
        out.push_back(side);
    }
    return out;
}

}  // namespace

TEST_F(PenRenderTest, SoftPenWidthStaysWithinItsBounds)
{
    BoardWidget* w = makeBoard(400, 300);
    // Very slow first piece, then fast and slow steps in all directions.
    auto seg = segmentOf({{0, QPointF(100, 100)},
                          {400, QPointF(130, 100)},
                          {402, QPointF(160, 130)},
                          {403, QPointF(200, 130)},
                          {1400, QPointF(200, 170)},
                          {1401, QPointF(150, 200)},
                          {3000, QPointF(120, 180)},
                          {3010, QPointF(100, 260)}});
    float prior = 0;
    const std::vector<int> sides = pieceIndices(w, seg.get(), 8, false, prior);
    ASSERT_EQ(sides.size(), 7u);
    EXPECT_LE(sides[0], 10 * std::ceil(8 * 1.5));  // first piece at most ceil(1.5 w)
    for (int s : sides) {
        EXPECT_LE(s, 160);  // at most 2 w
        EXPECT_GE(s, 10);   // at least 1
    }
    EXPECT_GE(prior, 1.0f);
    EXPECT_LE(prior, 16.0f);
    // Fast steps thin the line, slow ones thicken it.
    EXPECT_LT(sides[2], sides[0]);
    EXPECT_GT(sides[3], sides[2]);

    // A first piece far slower than the rest is held at ceil(1.5 w).
    auto slowStart = segmentOf({{0, QPointF(100, 100)}, {3000, QPointF(160, 100)}, {3001, QPointF(460, 100)}});
    prior = 0;
    const std::vector<int> first = pieceIndices(w, slowStart.get(), 8, false, prior);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0], 120);
}

TEST_F(PenRenderTest, SoftPenWithEqualTimestamps)
{
    BoardWidget* w = makeBoard(400, 300);
    // Two samples in the same millisecond: infinite speed, still at least 1.
    auto seg = segmentOf({{0, QPointF(100, 100)}, {40, QPointF(140, 100)}, {40, QPointF(180, 100)},
                          {80, QPointF(220, 100)}});
    float prior = 0;
    std::vector<int> sides = pieceIndices(w, seg.get(), 4, false, prior);
    ASSERT_EQ(sides.size(), 3u);
    for (int s : sides) {
        EXPECT_GE(s, 10);
        EXPECT_LE(s, 80);
    }
    // All samples at one time: every piece after the first is twice the width.
    auto same = segmentOf({{7, QPointF(100, 100)}, {7, QPointF(130, 110)}, {7, QPointF(160, 100)},
                           {7, QPointF(190, 120)}, {7, QPointF(220, 100)}});
    prior = 0;
    sides = pieceIndices(w, same.get(), 4, false, prior);
    ASSERT_EQ(sides.size(), 4u);
    EXPECT_GE(sides[0], 10);
    EXPECT_LE(sides[0], stampSide(60));  // ceil(1.5 w) = 6
    for (size_t i = 1; i < sides.size(); ++i)
        EXPECT_EQ(sides[i], 80) << i;
    EXPECT_FLOAT_EQ(prior, 8.0f);
}

TEST_F(PenRenderTest, SoftPenTapersAFallingLastSegment)
{
    BoardWidget* w = makeBoard(400, 300);
    // Heading down-left and bowing below its chord: a falling end.
    std::vector<std::pair<long, QPointF>> pts;
    for (int i = 0; i <= 12; ++i) {
        const double t = i / 12.0;
        pts.push_back({i * 20L, QPointF(300 - 200 * t, 100 + 120 * t + 60 * std::sin(t * M_PI))});
    }
    for (auto& p : pts)
        p.second = QPointF(std::round(p.second.x()), std::round(p.second.y()));
    auto seg = segmentOf(pts);
    float prior = 0;
    const std::vector<int> plain = pieceIndices(w, seg.get(), 8, false, prior);
    prior = 0;
    const std::vector<int> tapered = pieceIndices(w, seg.get(), 8, true, prior);
    ASSERT_EQ(plain.size(), tapered.size());
    EXPECT_LT(tapered.back(), plain.back());
    EXPECT_LE(tapered.back(), tapered[tapered.size() / 2]);
    // A single-point segment draws nothing.
    auto single = segmentOf({{0, QPointF(50, 50)}});
    StampLog log(400, 300);
    QPainter p(&log);
    prior = 0;
    w->drawPenSoft(&p, single.get(), 8, 0, prior, true, 0, 0, 1);
    EXPECT_TRUE(log.stamps.empty());
    EXPECT_EQ(prior, 0.0f);
}

namespace {

// A horizontal soft segment from (10, 10) through points dx apart in x, at
// the given times. Its pieces head right: direction factor
// ((cos(-45°) + 3) / 3) × ((sin 0 + 3) / 3) = 1.2357.
std::unique_ptr<Segment> horizontal(const std::vector<std::pair<long, double>>& steps)
{
    double x = 10;
    std::unique_ptr<Segment> seg(new Segment(steps[0].first, QPointF(x, 10)));
    for (size_t i = 1; i < steps.size(); ++i) {
        x += steps[i].second;
        seg->append(new StrokePoint(steps[i].first, x, 10));
    }
    return seg;
}

}  // namespace

// The soft pen's width arithmetic with pen width 8, widths read back from the
// stamps at scale 10 (side = width × 10, made odd).
TEST_F(PenRenderTest, SoftPenWidthFollowsTheSpeedRatioToThePowerOf0Point3)
{
    BoardWidget* w = makeBoard(400, 300);
    // 40 units in 40 ms, 40 in 160 ms, 40 in 40 ms: the segment's speed is
    // 0.5 units/ms. First piece: 8 × 0.5^0.3 × 1.2357 = 8.03; second, at a
    // quarter of the first piece's speed: 8 × 2^0.3 × 1.2357 = 12.17 (12.6 with
    // an exponent of 0.35, 11.76 with 0.25); the last piece keeps it.
    auto seg = horizontal({{0, 0}, {40, 40}, {200, 40}, {240, 40}});
    float prior = 0;
    const std::vector<int> sides = pieceIndices(w, seg.get(), 8, false, prior);
    ASSERT_EQ(sides.size(), 3u);
    EXPECT_EQ(sides[0], stampSide(80));
    EXPECT_EQ(sides[1], stampSide(122));
    EXPECT_EQ(sides[2], stampSide(122));
    EXPECT_NEAR(prior, 12.17, 0.01);
}

TEST_F(PenRenderTest, SoftPenWidthChangesByAtMostHalfTheStepLength)
{
    BoardWidget* w = makeBoard(400, 300);
    // Segment speed 84 / 120 = 0.7. First piece 8 × 0.7^0.3 × 1.2357 = 8.88.
    // The second piece, 4 units slow, would be 17.7 wide: it may grow by
    // 4 / 2 only, to 10.88.
    auto grow = horizontal({{0, 0}, {40, 40}, {80, 4}, {120, 40}});
    float prior = 0;
    std::vector<int> sides = pieceIndices(w, grow.get(), 8, false, prior);
    ASSERT_EQ(sides.size(), 3u);
    EXPECT_EQ(sides[0], stampSide(89));
    EXPECT_EQ(sides[1], stampSide(109));
    EXPECT_NEAR(prior, 10.88, 0.01);

    // Shrinking likewise: 40 slow units, then 6 fast ones that would be
    // thinner than 1; the step may take off 6 / 2 only.
    auto shrink = horizontal({{0, 0}, {400, 40}, {401, 6}, {441, 40}});
    prior = 0;
    sides = pieceIndices(w, shrink.get(), 8, false, prior);
    ASSERT_EQ(sides.size(), 3u);
    // First piece: speed ratio (86 / 441) / 0.1 = 1.95: 8 × 1.95^0.3 × 1.2357
    // = 12.1, held at ceil(1.5 × 8) = 12.
    EXPECT_EQ(sides[0], stampSide(120));
    EXPECT_EQ(sides[1], stampSide(90));  // 12 - 3
}

TEST_F(PenRenderTest, SoftPenStartsAtThePenWidthOnlyOnSegmentsShorterThan10)
{
    BoardWidget* w = makeBoard(400, 300);
    // 9 units long, the first piece slow: pen width 8, not the 13.7 that its
    // speed would give (held at 12).
    auto shortSeg = horizontal({{0, 0}, {100, 3}, {101, 3}, {102, 3}});
    float prior = 0;
    std::vector<int> sides = pieceIndices(w, shortSeg.get(), 8, false, prior);
    ASSERT_EQ(sides.size(), 3u);
    EXPECT_EQ(sides[0], stampSide(80));
    // 10 units long at an even speed: the speed rule, 8 × 1.2357 = 9.89.
    auto tenLong = horizontal({{0, 0}, {40, 4}, {70, 3}, {100, 3}});
    prior = 0;
    sides = pieceIndices(w, tenLong.get(), 8, false, prior);
    ASSERT_EQ(sides.size(), 3u);
    EXPECT_EQ(sides[0], stampSide(99));
}

TEST_F(PenRenderTest, SoftPenTapersDownRightEndsOnlyBetween20And60Degrees)
{
    BoardWidget* w = makeBoard(400, 300);
    // Final segments 200 units long whose middle bows below the chord, in
    // four directions (0° right, 90° down).
    for (const double deg : {15.0, 25.0, 55.0, 65.0}) {
        SCOPED_TRACE(deg);
        const double a = deg * M_PI / 180;
        std::vector<std::pair<long, QPointF>> pts;
        for (int i = 0; i <= 12; ++i) {
            const double t = i / 12.0;
            const double bow = 30 * std::sin(t * M_PI);
            pts.push_back({i * 20L, QPointF(std::round(100 + 200 * t * std::cos(a) - bow * std::sin(a)),
                                            std::round(100 + 200 * t * std::sin(a) + bow * std::cos(a)))});
        }
        auto seg = segmentOf(pts);
        float prior = 0;
        const std::vector<int> plain = pieceIndices(w, seg.get(), 8, false, prior);
        prior = 0;
        const std::vector<int> last = pieceIndices(w, seg.get(), 8, true, prior);
        ASSERT_EQ(plain.size(), last.size());
        if (deg > 20 && deg < 60)
            EXPECT_LT(last.back(), plain.back());
        else
            EXPECT_EQ(last, plain);
    }
}
