// Segments (split, last point) and pages (background, ink box, ownership).
#include "Page.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <vector>

namespace {

// A segment p0..p(n-1) at (i, 2i).
Segment* makeSegment(int n)
{
    auto* seg = new Segment(0, QPointF(0, 0));
    for (int i = 1; i < n; ++i)
        seg->append(new StrokePoint(i, float(i), float(2 * i)));
    return seg;
}

TEST(Segment, Constructors)
{
    Segment p(12, QPointF(1.5, -2.25));
    ASSERT_EQ(p.points.size(), 1u);
    EXPECT_EQ(p.points[0]->time, 12);
    EXPECT_EQ(*p.points[0]->point, QPointF(1.5, -2.25));
    EXPECT_EQ(p.points[0]->point2, nullptr);

    Segment r(13, QRectF(QPointF(-5, -6), QPointF(7, 8)));
    ASSERT_EQ(r.points.size(), 1u);
    EXPECT_EQ(*r.points[0]->point, QPointF(-5, -6));
    ASSERT_NE(r.points[0]->point2, nullptr);
    EXPECT_EQ(*r.points[0]->point2, QPointF(7, 8));

    // A list-built segment copies the list and leaves the points to the caller.
    StrokePoint a(1, 1, 1), b(2, 2, 2);
    std::vector<StrokePoint*> list = {&a, &b};
    {
        Segment l(list);
        list.pop_back();
        EXPECT_EQ(l.points.size(), 2u);
        EXPECT_EQ(l.getLastPoint(), &b);
    }
    EXPECT_FLOAT_EQ(b.GetX(), 2);  // still alive

    Segment empty(std::vector<StrokePoint*>{});
    EXPECT_EQ(empty.getLastPoint(), nullptr);
}

TEST(Segment, SplitAtFirstPoint)
{
    Segment* seg = makeSegment(5);
    std::vector<StrokePoint*> before = seg->points;
    Segment* tail = seg->split(0);
    ASSERT_EQ(seg->points.size(), 1u);
    EXPECT_EQ(seg->points[0], before[0]);
    EXPECT_EQ(tail->points, before);
    delete seg;  // the tail still holds every point
    EXPECT_FLOAT_EQ(tail->points[4]->GetY(), 8);
    EXPECT_FLOAT_EQ(tail->points[0]->GetX(), 0);
    delete tail;
}

TEST(Segment, SplitAtLastPoint)
{
    Segment* seg = makeSegment(5);
    std::vector<StrokePoint*> before = seg->points;
    Segment* tail = seg->split(4);
    EXPECT_EQ(seg->points, before);
    ASSERT_EQ(tail->points.size(), 1u);
    EXPECT_EQ(tail->points[0], before[4]);
    delete tail;  // the older half keeps its last point
    EXPECT_FLOAT_EQ(seg->getLastPoint()->GetX(), 4);
    delete seg;
}

TEST(Segment, SplitInTheMiddleSharesOnePoint)
{
    Segment* seg = makeSegment(7);
    std::vector<StrokePoint*> before = seg->points;
    Segment* tail = seg->split(3);
    EXPECT_EQ(seg->points, std::vector<StrokePoint*>(before.begin(), before.begin() + 4));
    EXPECT_EQ(tail->points, std::vector<StrokePoint*>(before.begin() + 3, before.end()));
    // Splitting the tail again keeps one store alive across three segments.
    Segment* tail2 = tail->split(1);
    EXPECT_EQ(tail2->points.front(), before[4]);
    delete tail;
    delete seg;
    EXPECT_FLOAT_EQ(tail2->points.front()->GetX(), 4);
    EXPECT_FLOAT_EQ(tail2->getLastPoint()->GetX(), 6);
    delete tail2;
}

TEST(Segment, SplitOutOfRangeThrowsAndKeepsPoints)
{
    Segment* seg = makeSegment(5);
    std::vector<StrokePoint*> before = seg->points;
    try {
        seg->split(5);
        FAIL() << "split(5) on five points did not throw";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Idx out of range");
    }
    EXPECT_EQ(seg->points, before);
    EXPECT_THROW(seg->split(1000), std::runtime_error);
    EXPECT_EQ(seg->points, before);
    Segment empty(std::vector<StrokePoint*>{});
    EXPECT_THROW(empty.split(0), std::runtime_error);
    delete seg;
}

TEST(Page, Construction)
{
    Page colour("", BT_BLACK, 2, 1);
    EXPECT_EQ(colour.getBkgType(), BT_BLACK);
    EXPECT_EQ(colour.gridType, 2);
    EXPECT_EQ(colour.gridSize, 1);
    EXPECT_TRUE(colour.strokes.empty());
    EXPECT_EQ(colour.getLastStork(), nullptr);
    EXPECT_EQ(colour.minPoint, QPointF(999999, 999999));
    EXPECT_EQ(colour.maxPoint, QPointF(0, 0));

    Page img("/tmp/board.png", BT_GREEN, 1, 2);
    EXPECT_EQ(img.getBkgType(), BT_IMG);
    EXPECT_EQ(img.bkgFile, "/tmp/board.png");
}

TEST(Page, SetBackground)
{
    Page p("", BT_WHITE, 0, 0);
    p.setBkg("");
    EXPECT_EQ(p.getBkgType(), BT_WHITE);
    p.setBkg("a.jpg");
    EXPECT_EQ(p.getBkgType(), BT_IMG);
    EXPECT_EQ(p.bkgFile, "a.jpg");
    p.setBkg("");  // an empty name keeps the type
    EXPECT_EQ(p.getBkgType(), BT_IMG);
    EXPECT_TRUE(p.bkgFile.isEmpty());
    p.setBkgType(BT_GREEN);
    EXPECT_EQ(p.getBkgType(), BT_GREEN);
}

TEST(Page, InkBoxTruncatesTowardZero)
{
    Page p("", BT_GREEN, 1, 2);
    p.updateMaxPoint(QPointF(10.9, -3.7));
    EXPECT_EQ(p.minPoint, QPointF(10, -3));
    EXPECT_EQ(p.maxPoint, QPointF(10, 0));  // y keeps its start value
    p.updateMaxPoint(QPointF(-0.9, 250.99));
    EXPECT_EQ(p.minPoint, QPointF(0, -3));
    EXPECT_EQ(p.maxPoint, QPointF(10, 250));
    p.updateMaxPoint(QPointF(-12.5, -1));
    EXPECT_EQ(p.minPoint, QPointF(-12, -3));
    EXPECT_EQ(p.maxPoint, QPointF(10, 250));
}

TEST(Page, RecomputedInkBoxSkipsErasers)
{
    Page p("", BT_GREEN, 1, 2);
    auto* pen = new Stroke(TT_P_HARD, 4, 0, 0, QPointF(20.5, 30.5));
    pen->addPoint(1, QPointF(120.7, 60.2));
    p.strokes.push_back(pen);
    auto* soft = new Stroke(TT_P_SOFT, 4, 1, 2, QPointF(50, 10.9));
    p.strokes.push_back(soft);
    // Erasers far outside the ink: they never widen the box.
    auto* rect = new Stroke(3, QRectF(QPointF(-500, -500), QPointF(900, 900)));
    rect->addRect(4, QRectF(QPointF(-800, -800), QPointF(1200, 1200)));
    p.strokes.push_back(rect);
    auto* trap = new Stroke(5, QPointF(-1000, 2000));
    trap->addPoint(6, QPointF(3000, -4000));
    p.strokes.push_back(trap);
    EXPECT_EQ(p.getLastStork(), trap);

    p.updateMaxPoint(QPointF(5000, 5000));  // widened by hand, then recomputed
    p.updateMaxPoint();
    EXPECT_EQ(p.minPoint, QPointF(20, 10));
    EXPECT_EQ(p.maxPoint, QPointF(120, 60));

    // With only erasers left the box returns to its start values.
    delete p.strokes[0];
    delete p.strokes[1];
    p.strokes.erase(p.strokes.begin(), p.strokes.begin() + 2);
    p.updateMaxPoint();
    EXPECT_EQ(p.minPoint, QPointF(999999, 999999));
    EXPECT_EQ(p.maxPoint, QPointF(0, 0));
}

// Strokes with several splits, discarded from the back (undo) and all at
// once (the page's destructor): the sanitizer build catches leaks and
// double frees of the shared boundary points.
TEST(Page, DiscardingSplitStrokesReleasesEverythingOnce)
{
    auto* p = new Page("", BT_GREEN, 1, 2);
    for (int k = 0; k < 6; ++k) {
        auto* s = new Stroke(TT_P_SOFT, 2, k % 6, 0, QPointF(0, 0));
        int x = 0, y = 0;
        for (int corner = 0; corner < 5; ++corner) {
            for (int i = 0; i < 10; ++i) {
                (corner % 2 ? y : x) += 2;
                s->addPoint(long(corner * 10 + i), QPointF(x, y));
            }
        }
        EXPECT_EQ(s->segments.size(), 5u);
        p->strokes.push_back(s);
    }
    // Undo-style removal of the last two.
    for (int i = 0; i < 2; ++i) {
        delete p->getLastStork();
        p->strokes.pop_back();
    }
    EXPECT_EQ(p->strokes.size(), 4u);
    delete p;
}

}  // namespace
