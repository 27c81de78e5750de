#ifndef TAVLO_SEGMENT_H
#define TAVLO_SEGMENT_H

#include "StrokePoint.h"

#include <QPointF>
#include <QRectF>
#include <memory>
#include <vector>

// A run of timed points inside a stroke. The points a segment creates or is
// given through append() are kept in a store shared with every segment split
// off from it, so a boundary point that belongs to two segments is released
// exactly once, when the last segment referring to it goes away.
class Segment {
public:
    Segment(long time, QPointF point);
    Segment(long time, QRectF rect);
    // Takes a copy of the list; the caller keeps ownership of these points.
    explicit Segment(std::vector<StrokePoint*> points);
    ~Segment();

    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    // Cuts the segment at idx: this segment keeps points 0..idx, the returned
    // one (owned by the caller) holds idx..end; the point at idx is in both.
    // Throws std::runtime_error("Idx out of range") when idx >= size.
    Segment* split(unsigned int idx);

    // The last point, or null when the segment is empty.
    StrokePoint* getLastPoint() const;

    // Appends a point and takes ownership of it (released with the segment
    // store).
    void append(StrokePoint* sp);

    std::vector<StrokePoint*> points;  // sampling order, never null entries

private:
    using Store = std::vector<std::unique_ptr<StrokePoint>>;
    Segment(std::vector<StrokePoint*> points, std::shared_ptr<Store> store);

    std::shared_ptr<Store> store_;  // owner of the points; shared after a split
};

#endif
