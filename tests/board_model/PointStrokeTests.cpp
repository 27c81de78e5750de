// Points, the direction and turn arithmetic, and how strokes grow.
#include "Stroke.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

// Step direction (truncated slope) of a step (dx, dy) from (100, 100).
double stepAngle(float dx, float dy)
{
    StrokePoint a(0, 100, 100), b(0, 100 + dx, 100 + dy);
    return Stroke::getAngle(&a, &b);
}

// Turn between the steps (dx1, dy1) and (dx2, dy2).
double turn(float dx1, float dy1, float dx2, float dy2)
{
    StrokePoint s1(0, 0, 0), e1(0, dx1, dy1), s2(0, 50, 50), e2(0, 50 + dx2, 50 + dy2);
    return Stroke::getAngle(&s1, &e1, &s2, &e2);
}

std::unique_ptr<Stroke> softStroke(int width, const std::vector<QPointF>& pts, std::vector<bool>* splits = nullptr)
{
    auto s = std::make_unique<Stroke>(TT_P_SOFT, width, 0, 1000, pts.front());
    for (size_t i = 1; i < pts.size(); ++i) {
        bool r = s->addPoint(long(1000 + i), pts[i]);
        if (splits)
            splits->push_back(r);
    }
    return s;
}

// p0..p5 along +x, two units apart, then a step straight down.
const std::vector<QPointF> RIGHT_ANGLE = {{0, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}, {10, 0}, {10, 2}};

TEST(StrokePoint, ConstructorsAndCopies)
{
    StrokePoint empty;
    EXPECT_EQ(empty.time, 0);
    EXPECT_EQ(*empty.point, QPointF(0, 0));
    EXPECT_EQ(empty.point2, nullptr);

    StrokePoint r(7, 1.5f, 2.5f, 3.5f, 4.5f);
    ASSERT_NE(r.point2, nullptr);
    EXPECT_FLOAT_EQ(r.GetX(), 1.5f);
    EXPECT_FLOAT_EQ(r.GetY(), 2.5f);
    EXPECT_EQ(*r.point2, QPointF(3.5, 4.5));

    // Copies are deep: changing or destroying one never touches the other.
    StrokePoint c(r);
    EXPECT_NE(c.point, r.point);
    EXPECT_NE(c.point2, r.point2);
    c.point->setX(9);
    EXPECT_FLOAT_EQ(r.GetX(), 1.5f);
    StrokePoint plain(3, 1, 1);
    plain = r;
    ASSERT_NE(plain.point2, nullptr);
    EXPECT_TRUE(plain.equals(&r));
    plain = empty;
    EXPECT_EQ(plain.point2, nullptr);
    EXPECT_EQ(plain.time, 0);
}

TEST(StrokePoint, EqualityWithinOneHundredth)
{
    StrokePoint a(0, 10, 20);
    StrokePoint near(5, 10.009f, 19.991f);
    StrokePoint farX(0, 10.02f, 20);
    StrokePoint farY(0, 10, 20.02f);
    EXPECT_TRUE(a.equals(&near));
    EXPECT_FALSE(a.equals(&farX));
    EXPECT_FALSE(a.equals(&farY));
    EXPECT_FALSE(a.equals(nullptr));

    StrokePoint rect(0, 10, 20, 30, 40);
    StrokePoint rectNear(0, 10, 20, 30.005f, 40);
    StrokePoint rectFar(0, 10, 20, 30, 40.5f);
    EXPECT_FALSE(a.equals(&rect));  // only one has a second corner
    EXPECT_FALSE(rect.equals(&a));
    EXPECT_TRUE(rect.equals(&rectNear));
    EXPECT_FALSE(rect.equals(&rectFar));
}

TEST(StrokePoint, Distance)
{
    StrokePoint a(0, 1, 2);
    QPointF b(4, 6);
    EXPECT_FLOAT_EQ(a.distance(&b), 5.0f);
    EXPECT_FLOAT_EQ(a.distance(nullptr), 999999.0f);
}

TEST(StrokeGeometry, TruncatedSlopeDirection)
{
    EXPECT_DOUBLE_EQ(stepAngle(10, 3), 0);    // slope 0.3 truncates to 0
    EXPECT_DOUBLE_EQ(stepAngle(10, 17), 45);  // slope 1.7 counts as 1
    EXPECT_DOUBLE_EQ(stepAngle(0, 5), 90);
    EXPECT_DOUBLE_EQ(stepAngle(0, -5), 270);
    EXPECT_NEAR(stepAngle(10, 25), 63.434949, 1e-5);  // 2.5 counts as 2
    EXPECT_NEAR(stepAngle(-10, 25), 180 - 63.434949, 1e-5);
    EXPECT_DOUBLE_EQ(stepAngle(-10, 3), 180);
    EXPECT_DOUBLE_EQ(stepAngle(-10, -17), 225);
    EXPECT_DOUBLE_EQ(stepAngle(10, -17), 315);
    // A slightly rising step truncates to 0 and lands on 360, not 0.
    EXPECT_DOUBLE_EQ(stepAngle(10, -3), 360);
    EXPECT_DOUBLE_EQ(stepAngle(-10, 0), 180);
}

TEST(StrokeGeometry, TurnBetweenSteps)
{
    // Across the wrap at 0/360 the short way round counts.
    EXPECT_DOUBLE_EQ(turn(10, -10, 10, 10), 90);    // 315 against 45
    EXPECT_DOUBLE_EQ(turn(10, 10, 10, -10), 90);    // 45 against 315
    EXPECT_DOUBLE_EQ(turn(10, -3, 10, 3), 0);       // 360 against 0
    EXPECT_DOUBLE_EQ(turn(10, -20, 10, 20), 127);   // 296.57 against 63.43, truncated
    EXPECT_DOUBLE_EQ(turn(10, 0, -10, 0), 180);
    EXPECT_DOUBLE_EQ(turn(10, 0, 10, 20), 63);      // whole degrees, truncated
    EXPECT_DOUBLE_EQ(turn(0, 5, 10, 0), 90);
    // A step that does not move has no direction: no turn.
    EXPECT_DOUBLE_EQ(turn(0.001f, 0, 0, 10), 0);
    EXPECT_DOUBLE_EQ(turn(0, 10, 0.001f, 0.004f), 0);
}

TEST(StrokeGeometry, ExactDirectionAndWidthFactor)
{
    QPointF o(5, 5), r(6, 5), d(5, 6), l(4, 5), u(5, 4), dr(6, 6);
    EXPECT_NEAR(Stroke::getAngle(&o, &r), 0, 1e-9);
    EXPECT_NEAR(Stroke::getAngle(&o, &d), 90, 1e-9);
    EXPECT_NEAR(Stroke::getAngle(&o, &l), 180, 1e-9);
    EXPECT_NEAR(Stroke::getAngle(&o, &u), 270, 1e-9);
    QPointF a(0, 0), b(10, 3);
    EXPECT_NEAR(Stroke::getAngle(&a, &b), 16.699244, 1e-5);  // exact, unlike the truncated one

    EXPECT_NEAR(Stroke::getRadian(&o, &dr), 16.0 / 9.0, 1e-12);
    EXPECT_NEAR(Stroke::getRadian(&o, &r), (std::cos(-M_PI / 4) + 3) / 3, 1e-12);
    EXPECT_NEAR(Stroke::getRadian(&o, &u), ((std::cos(1.5 * M_PI - M_PI / 4) + 3) / 3), 1e-12);
    // The smallest factor, about 0.647, is reached near 304 degrees (and,
    // by symmetry of the two terms, near 146).
    double minF = 10;
    for (int deg = 0; deg < 360; ++deg) {
        QPointF p(5 + std::cos(deg * M_PI / 180), 5 + std::sin(deg * M_PI / 180));
        minF = std::min(minF, Stroke::getRadian(&o, &p));
    }
    EXPECT_NEAR(minF, 0.647, 0.001);
    QPointF at304(5 + std::cos(304 * M_PI / 180), 5 + std::sin(304 * M_PI / 180));
    EXPECT_NEAR(Stroke::getRadian(&o, &at304), minF, 0.001);
}

TEST(Stroke, Constructors)
{
    Stroke pen(TT_P_HARD, 4, 3, 1234, QPointF(1.25, 2.5));
    EXPECT_EQ(pen.type, TT_P_HARD);
    EXPECT_EQ(pen.width, 4);
    EXPECT_EQ(pen.colorIdx, 3);
    EXPECT_EQ(pen.startTime, 1234);
    ASSERT_EQ(pen.segments.size(), 1u);
    ASSERT_EQ(pen.segments[0]->points.size(), 1u);
    EXPECT_EQ(pen.segments[0]->points[0]->time, 1234);
    EXPECT_EQ(*pen.segments[0]->points[0]->point, QPointF(1.25, 2.5));

    Stroke trap(55, QPointF(3, 4));
    EXPECT_EQ(trap.type, TT_E_TRAP);
    EXPECT_EQ(trap.startTime, 55);
    ASSERT_EQ(trap.segments.size(), 1u);
    EXPECT_EQ(trap.segments[0]->points[0]->point2, nullptr);

    Stroke rect(66, QRectF(QPointF(10, 20), QPointF(110, 120)));
    EXPECT_EQ(rect.type, TT_E_RECT);
    EXPECT_EQ(rect.width, 0);
    EXPECT_EQ(rect.colorIdx, 0);
    StrokePoint* rp = rect.segments[0]->points[0];
    EXPECT_EQ(*rp->point, QPointF(10, 20));
    ASSERT_NE(rp->point2, nullptr);
    EXPECT_EQ(*rp->point2, QPointF(110, 120));
    EXPECT_EQ(rect.getSecondLast(), nullptr);
}

TEST(Stroke, RepeatedSampleOnlyUpdatesTime)
{
    for (StrokeType t : {TT_P_SOFT, TT_P_HARD}) {
        Stroke s(t, 2, 0, 100, QPointF(5, 5));
        EXPECT_FALSE(s.addPoint(150, QPointF(5.009, 4.995)));
        ASSERT_EQ(s.segments[0]->points.size(), 1u);
        EXPECT_EQ(s.segments[0]->points[0]->time, 150);
        EXPECT_EQ(*s.segments[0]->points[0]->point, QPointF(5, 5));  // position unchanged
        EXPECT_FALSE(s.addPoint(160, QPointF(5.02, 5)));
        EXPECT_EQ(s.segments[0]->points.size(), 2u);
    }
    Stroke trap(100, QPointF(1, 1));
    trap.addPoint(200, QPointF(1, 1));
    ASSERT_EQ(trap.segments[0]->points.size(), 1u);
    EXPECT_EQ(trap.segments[0]->points[0]->time, 200);
}

TEST(Stroke, UnknownTypeAppendsNothing)
{
    Stroke s(TT_UNKNOW, 2, 0, 0, QPointF(0, 0));
    EXPECT_FALSE(s.addPoint(1, QPointF(5, 5)));
    EXPECT_EQ(s.segments[0]->points.size(), 1u);
}

TEST(Stroke, AddRectAndDistance)
{
    Stroke s(0, QRectF(0, 0, 10, 10));
    s.addRect(5, QRectF(QPointF(20, 30), QPointF(40, 50)));
    ASSERT_EQ(s.segments[0]->points.size(), 2u);
    StrokePoint* p = s.segments[0]->points[1];
    EXPECT_EQ(p->time, 5);
    EXPECT_EQ(*p->point, QPointF(20, 30));
    EXPECT_EQ(*p->point2, QPointF(40, 50));
    QPointF q(23, 34);
    EXPECT_DOUBLE_EQ(s.distance(&q), 5);
    EXPECT_DOUBLE_EQ(s.distance(nullptr), 999999);

    // An empty last segment takes no rectangle.
    s.segments.push_back(new Segment(std::vector<StrokePoint*>{}));
    s.addRect(6, QRectF(0, 0, 1, 1));
    EXPECT_TRUE(s.segments.back()->points.empty());
    EXPECT_DOUBLE_EQ(s.distance(&q), 999999);
}

TEST(SoftPenSplit, SplitsAtRightAngleWithSharedBoundary)
{
    // Hand-worked: width 2 gives a look-back longer than 6 at p0 (path 12,
    // five points behind). Turns against p0: at p5 90 (0 then straight down),
    // at p4 45 (step (2, 2)), at p3 0 (slope 0.5). Two exceed 40: split at p5.
    std::vector<bool> splits;
    auto s = softStroke(2, RIGHT_ANGLE, &splits);
    EXPECT_EQ(splits, (std::vector<bool>{false, false, false, false, false, true}));
    ASSERT_EQ(s->segments.size(), 2u);
    Segment* older = s->segments[0];
    Segment* newer = s->segments[1];
    EXPECT_EQ(s->getSecondLast(), older);
    ASSERT_EQ(older->points.size(), 6u);
    ASSERT_EQ(newer->points.size(), 2u);
    EXPECT_EQ(older->getLastPoint(), newer->points[0]);  // the same object
    EXPECT_EQ(*newer->points[0]->point, QPointF(10, 0));
    EXPECT_EQ(*newer->getLastPoint()->point, QPointF(10, 2));
    EXPECT_EQ(newer->getLastPoint()->time, 1006);
}

TEST(SoftPenSplit, NoSplitWithShortLookBack)
{
    // Same corner, width 8: the whole path (12) is not longer than 24.
    std::vector<bool> splits;
    auto s = softStroke(8, RIGHT_ANGLE, &splits);
    EXPECT_EQ(s->segments.size(), 1u);
    EXPECT_EQ(s->segments[0]->points.size(), 7u);
    // Width 3 (limit 9): the path passes 9 before five points lie behind;
    // the start is still p0 and the corner splits.
    auto s3 = softStroke(3, RIGHT_ANGLE);
    EXPECT_EQ(s3->segments.size(), 2u);
    // Width 4 (limit 12): the full path is exactly 12, not longer.
    auto s4 = softStroke(4, RIGHT_ANGLE);
    EXPECT_EQ(s4->segments.size(), 1u);
}

TEST(SoftPenSplit, NoSplitWithFewerThanSixPoints)
{
    // Five points in the segment, far apart and turning twice: never split.
    std::vector<QPointF> pts = {{0, 0}, {50, 0}, {100, 0}, {100, 50}, {50, 50}, {50, 100}};
    std::vector<bool> splits;
    auto s = softStroke(2, pts, &splits);
    EXPECT_EQ(s->segments.size(), 1u);
    EXPECT_EQ(s->segments[0]->points.size(), 6u);
}

TEST(SoftPenSplit, OneSharpCornerDoesNotSplit)
{
    // Last step (1, 2): only p5 turns by more than 40 (63); p4 -> (11, 2)
    // has slope 0.67 and no turn.
    std::vector<QPointF> pts(RIGHT_ANGLE.begin(), RIGHT_ANGLE.end() - 1);
    pts.push_back(QPointF(11, 2));
    auto s = softStroke(2, pts);
    EXPECT_EQ(s->segments.size(), 1u);
    EXPECT_EQ(s->segments[0]->points.size(), 7u);
}

TEST(SoftPenSplit, LargestTurnWinsLaterPointOnTie)
{
    // Largest turn at an earlier point: p5 (6, 2) turns 45, p4 (8, 0) turns
    // 90, p3 63, p2 45: split at p4.
    {
        std::vector<QPointF> pts = {{0, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}, {6, 2}, {8, 4}};
        auto s = softStroke(2, pts);
        ASSERT_EQ(s->segments.size(), 2u);
        EXPECT_EQ(s->segments[0]->points.size(), 5u);
        EXPECT_EQ(*s->segments[0]->getLastPoint()->point, QPointF(8, 0));
        ASSERT_EQ(s->segments[1]->points.size(), 3u);
        EXPECT_EQ(*s->segments[1]->points[1]->point, QPointF(6, 2));
    }
    // Tie: p5 (8, 1) and p4 (8, 0) both turn 90 towards (8, 3): the later p5.
    {
        std::vector<QPointF> pts = {{0, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}, {8, 1}, {8, 3}};
        auto s = softStroke(2, pts);
        ASSERT_EQ(s->segments.size(), 2u);
        EXPECT_EQ(s->segments[0]->points.size(), 6u);
        EXPECT_EQ(*s->segments[0]->getLastPoint()->point, QPointF(8, 1));
        EXPECT_EQ(s->segments[1]->points.size(), 2u);
    }
}

TEST(SoftPenSplit, OtherKindsNeverSplit)
{
    Stroke hard(TT_P_HARD, 2, 0, 0, RIGHT_ANGLE[0]);
    Stroke trap(0, RIGHT_ANGLE[0]);
    Stroke rect(0, QRectF(RIGHT_ANGLE[0], QSizeF(1, 1)));
    for (size_t i = 1; i < RIGHT_ANGLE.size(); ++i) {
        EXPECT_FALSE(hard.addPoint(long(i), RIGHT_ANGLE[i]));
        EXPECT_FALSE(trap.addPoint(long(i), RIGHT_ANGLE[i]));
        EXPECT_FALSE(rect.addPoint(long(i), RIGHT_ANGLE[i]));
    }
    for (Stroke* s : {&hard, &trap, &rect}) {
        EXPECT_EQ(s->segments.size(), 1u);
        EXPECT_EQ(s->segments[0]->points.size(), RIGHT_ANGLE.size());
    }
}

TEST(SoftPenSplit, NewSampleJoinsTheNewSegment)
{
    // After a split the next corner is looked for in the new segment only:
    // a zigzag of right angles splits once per corner.
    std::vector<QPointF> pts;
    for (int i = 0; i <= 10; ++i)
        pts.push_back(QPointF(i * 2, 0));  // 0..20 along x
    for (int i = 1; i <= 10; ++i)
        pts.push_back(QPointF(20, i * 2));  // down to (20, 20)
    for (int i = 1; i <= 10; ++i)
        pts.push_back(QPointF(20 + i * 2, 20));  // right to (40, 20)
    auto s = softStroke(2, pts);
    ASSERT_EQ(s->segments.size(), 3u);
    EXPECT_EQ(*s->segments[0]->getLastPoint()->point, QPointF(20, 0));
    EXPECT_EQ(*s->segments[1]->points.front()->point, QPointF(20, 0));
    EXPECT_EQ(*s->segments[1]->getLastPoint()->point, QPointF(20, 20));
    EXPECT_EQ(s->segments[1]->getLastPoint(), s->segments[2]->points.front());
    EXPECT_EQ(s->segments[2]->points.size(), 11u);
}

}  // namespace
