#ifndef TAVLO_STROKEPOINT_H
#define TAVLO_STROKEPOINT_H

#include <QPointF>
#include <cstdint>

// One timed sample of a stroke, in page coordinates. A rectangle-eraser
// sample also carries the rectangle's bottom-right corner in point2.
class StrokePoint {
public:
    StrokePoint();
    StrokePoint(long time, float X, float Y);
    StrokePoint(long time, float X, float Y, float X2, float Y2);
    ~StrokePoint();

    // Deep copies: each StrokePoint owns its own point and point2.
    StrokePoint(const StrokePoint& other);
    StrokePoint& operator=(const StrokePoint& other);

    float GetX() const;
    float GetY() const;

    // Same position (and same second corner, if any) within 0.01 per axis.
    bool equals(StrokePoint* Other) const;

    // Euclidean distance from point to other; 999999 for a null other.
    float distance(QPointF* other) const;

    int64_t time;     // ms of Utils::clocktime(ms)
    QPointF* point;   // owned, never null
    QPointF* point2;  // owned, null unless a rectangle sample
};

#endif
