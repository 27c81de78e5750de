// A soft-pen stroke recorded from a handwriting-like path: zigzag letters with
// sharp corners, a gentle curve, the pen slowing into every corner and a
// little sampling noise. The stroke must split exactly where the corner rules
// say; a straightforward reference over the flat sample list (checked against
// hand-worked short paths first) gives the expected indices.
#include "Stroke.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace {

// Reference: split indices (into the flat sample list) of a soft-pen stroke
// of the given width, working on indices rather than on segments.
std::vector<int> referenceSplits(const std::vector<QPointF>& in, int width)
{
    std::vector<StrokePoint> s;
    for (const QPointF& p : in)
        s.emplace_back(0, float(p.x()), float(p.y()));
    std::vector<int> result;
    int first = 0;  // index of the current segment's first sample
    for (int k = 1; k < int(s.size()); ++k) {
        const int count = k - first;  // points in the current segment
        if (count < 6)
            continue;
        float path = s[k].distance(s[k - 1].point);
        int behind = 1;
        int start = -1;
        for (int j = k - 2; j >= first; --j, ++behind) {
            path += s[j + 1].distance(s[j].point);
            if (path > float(3 * width) && behind >= 5) {
                start = j;
                break;
            }
        }
        if (start < 0)
            continue;
        int sharp = 0, best = -1;
        double bestTurn = 0;
        for (int j = k - 1; j > start; --j) {
            double t = Stroke::getAngle(&s[start], &s[j], &s[j], &s[k]);
            sharp += t > 40;
            if (t > bestTurn) {
                bestTurn = t;
                best = j;
            }
        }
        if (sharp >= 2) {
            result.push_back(best);
            first = best;
        }
    }
    return result;
}

struct Recorded {
    std::vector<int> boundaries;   // flat index of every segment's first point but the first
    std::vector<int> reportedAt;   // sample indices at which addPoint returned true
    std::vector<QPointF> flat;     // all points in order, shared boundaries once
    bool sharedBoundaries = true;  // boundary points are the same objects
    bool secondLastOk = true;      // getSecondLast right after a split is the older half
};

Recorded record(const std::vector<QPointF>& pts, int width)
{
    Recorded r;
    Stroke stroke(TT_P_SOFT, width, 0, 0, pts[0]);
    for (int k = 1; k < int(pts.size()); ++k) {
        if (stroke.addPoint(long(k * 8), pts[k])) {
            r.reportedAt.push_back(k);
            Segment* older = stroke.getSecondLast();
            r.secondLastOk = r.secondLastOk && older == stroke.segments[stroke.segments.size() - 2] &&
                             older->getLastPoint() == stroke.segments.back()->points.front();
        }
    }
    for (size_t m = 0; m < stroke.segments.size(); ++m) {
        const auto& points = stroke.segments[m]->points;
        size_t from = 0;
        if (m > 0) {
            r.sharedBoundaries = r.sharedBoundaries && points.front() == stroke.segments[m - 1]->points.back();
            r.boundaries.push_back(int(r.flat.size()) - 1);
            from = 1;
        }
        for (size_t i = from; i < points.size(); ++i)
            r.flat.push_back(*points[i]->point);
    }
    return r;
}

// The handwriting: legs of a zigzag "NW", a flat connector, a down-left
// stroke, a gentle curve. The pen slows into every corner (samples 1.5
// apart) and speeds up in between (up to 4 apart); each sample gets a
// deterministic jitter of at most 0.05.
struct Path {
    std::vector<QPointF> samples;
    std::vector<int> corners;  // sample index of every corner
};

Path handwriting()
{
    struct Leg {
        double slopeStart, slopeEnd;  // dy/dx along the leg (varies on the curve)
        int xSign;
        double length;
    };
    const std::vector<Leg> legs = {
        {2.5, 2.5, 1, 150},   {-2.5, -2.5, 1, 150}, {2.5, 2.5, 1, 150}, {-2.5, -2.5, 1, 150},
        {0.3, 0.3, 1, 120},   {-2.5, -2.5, -1, 110}, {0.3, 0.3, 1, 130}, {1.2, 1.8, 1, 160},
    };
    Path path;
    uint32_t seed = 12345;
    auto jitter = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return (double((seed >> 8) & 0xFFFF) / 65535.0 - 0.5) * 0.1;
    };
    QPointF pos(200, 200);
    path.samples.push_back(pos);
    for (size_t l = 0; l < legs.size(); ++l) {
        const Leg& leg = legs[l];
        const double L = leg.length;
        double u = 0;
        QPointF at = pos;
        while (true) {
            double spacing = 1.5 + 2.5 * std::sin(M_PI * u / L);
            if (u + spacing > L - 0.75)
                break;
            // Step along the leg's direction at u (the curve turns slowly).
            double slope = leg.slopeStart + (leg.slopeEnd - leg.slopeStart) * (u / L);
            double n = std::sqrt(1 + slope * slope);
            at += QPointF(leg.xSign * spacing / n, leg.xSign * slope * spacing / n);
            u += spacing;
            path.samples.push_back(at + QPointF(jitter(), jitter()));
        }
        // The last sample of the leg sits at its end: the corner.
        double slope = leg.slopeEnd;
        double n = std::sqrt(1 + slope * slope);
        at += QPointF(leg.xSign * (L - u) / n, leg.xSign * slope * (L - u) / n);
        path.samples.push_back(at);
        if (l + 1 < legs.size())
            path.corners.push_back(int(path.samples.size()) - 1);
        pos = at;
    }
    return path;
}

std::vector<QPointF> asFloats(const std::vector<QPointF>& pts)
{
    std::vector<QPointF> out;
    for (const QPointF& p : pts)
        out.emplace_back(float(p.x()), float(p.y()));
    return out;
}

TEST(Handwriting, ReferenceAgreesWithHandWorkedPaths)
{
    // Worked out by hand (see the soft-pen split tests): a right angle after
    // six points splits at p5 for widths 2 and 3, not for 4 or 8.
    const std::vector<QPointF> rightAngle = {{0, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}, {10, 0}, {10, 2}};
    EXPECT_EQ(referenceSplits(rightAngle, 2), std::vector<int>{5});
    EXPECT_EQ(referenceSplits(rightAngle, 3), std::vector<int>{5});
    EXPECT_TRUE(referenceSplits(rightAngle, 4).empty());
    EXPECT_TRUE(referenceSplits(rightAngle, 8).empty());
    EXPECT_EQ(referenceSplits({{0, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}, {6, 2}, {8, 4}}, 2), std::vector<int>{4});
    EXPECT_EQ(referenceSplits({{0, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}, {8, 1}, {8, 3}}, 2), std::vector<int>{5});
    EXPECT_TRUE(referenceSplits({{0, 0}, {2, 0}, {4, 0}, {6, 0}, {8, 0}, {10, 0}, {11, 2}}, 2).empty());

    // An L of 2-unit steps, 11 along x then 10 down then 10 along x: the
    // corners are samples 10 and 20, each split on the first sample after it.
    std::vector<QPointF> l;
    for (int i = 0; i <= 10; ++i)
        l.push_back(QPointF(i * 2, 0));
    for (int i = 1; i <= 10; ++i)
        l.push_back(QPointF(20, i * 2));
    for (int i = 1; i <= 10; ++i)
        l.push_back(QPointF(20 + i * 2, 20));
    EXPECT_EQ(referenceSplits(l, 2), (std::vector<int>{10, 20}));
    Recorded r = record(l, 2);
    EXPECT_EQ(r.boundaries, (std::vector<int>{10, 20}));
    EXPECT_EQ(r.reportedAt, (std::vector<int>{11, 21}));
}

TEST(Handwriting, LongStrokeSplitsAtItsCorners)
{
    const Path path = handwriting();
    ASSERT_GE(path.samples.size(), 300u);
    ASSERT_EQ(path.corners.size(), 7u);

    for (int width : {2, 4, 8}) {
        SCOPED_TRACE(width);
        const std::vector<int> expected = referenceSplits(path.samples, width);
        const Recorded r = record(path.samples, width);

        EXPECT_EQ(r.boundaries, expected);
        EXPECT_TRUE(r.sharedBoundaries);
        EXPECT_TRUE(r.secondLastOk);
        // Nothing lost or duplicated: the segments, boundaries counted once,
        // give back every sample in order.
        EXPECT_EQ(r.flat, asFloats(path.samples));
        // Each split was reported by the sample that caused it, after the
        // split point.
        ASSERT_EQ(r.reportedAt.size(), r.boundaries.size());
        for (size_t i = 0; i < r.boundaries.size(); ++i) {
            EXPECT_GT(r.reportedAt[i], r.boundaries[i]);
            EXPECT_LE(r.reportedAt[i], r.boundaries[i] + 3);
        }
        // The path's sharp corners are where it splits: one split near each,
        // none along the straight legs or the gentle curve.
        ASSERT_EQ(r.boundaries.size(), path.corners.size());
        for (size_t i = 0; i < path.corners.size(); ++i)
            EXPECT_LE(std::abs(r.boundaries[i] - path.corners[i]), 2)
                << "corner " << i << " at sample " << path.corners[i] << " split at " << r.boundaries[i];
    }
}

TEST(Handwriting, HardPenAndTrapezoidKeepOneSegment)
{
    const Path path = handwriting();
    Stroke hard(TT_P_HARD, 4, 0, 0, path.samples[0]);
    Stroke trap(0, path.samples[0]);
    for (size_t k = 1; k < path.samples.size(); ++k) {
        EXPECT_FALSE(hard.addPoint(long(k), path.samples[k]));
        EXPECT_FALSE(trap.addPoint(long(k), path.samples[k]));
    }
    ASSERT_EQ(hard.segments.size(), 1u);
    EXPECT_EQ(hard.segments[0]->points.size(), path.samples.size());
    ASSERT_EQ(trap.segments.size(), 1u);
    EXPECT_EQ(trap.segments[0]->points.size(), path.samples.size());
}

}  // namespace
