#ifndef TAVLO_STROKE_H
#define TAVLO_STROKE_H

#include "Segment.h"
#include "StrokePoint.h"

#include <QPointF>
#include <QRectF>
#include <cstdint>
#include <deque>

enum StrokeType {
    TT_UNKNOW = 0,
    TT_E_RECT = 1,  // rectangle eraser: every point is a rectangle to clear
    TT_E_TRAP = 2,  // trapezoid eraser: the points outline an area to clear
    TT_P_SOFT = 3,  // soft pen: split at corners
    TT_P_HARD = 4,  // hard pen
};

// One stroke: one or more segments of timed points. Owns its segments (and,
// through them, its points); deleting a stroke releases everything once.
class Stroke {
public:
    Stroke(StrokeType type, int width, int colorIdx, long time, QPointF point);  // pen
    Stroke(long time, QPointF point);                                            // trapezoid eraser
    Stroke(long time, QRectF rect);                                              // rectangle eraser
    ~Stroke();

    Stroke(const Stroke&) = delete;
    Stroke& operator=(const Stroke&) = delete;

    // Appends a sample; true when a soft-pen corner split off a new segment.
    bool addPoint(long time, QPointF point);
    // Appends a rectangle sample to the last segment (not to an empty one).
    void addRect(long time, QRectF rect);
    // Distance from the last point to point; 999999 when there is none.
    double distance(QPointF* point) const;
    // The segment before the last one; null when there is only one.
    Segment* getSecondLast() const;

    // Direction of a step with the slope truncated to a whole number, degrees
    // in [0, 360), y pointing down.
    static double getAngle(StrokePoint* S1, StrokePoint* E1);
    // Exact direction of p1 -> p2, degrees in [0, 360).
    static double getAngle(QPointF* p1, QPointF* p2);
    // Turn between the steps S1 -> E1 and S2 -> E2, whole degrees 0..180.
    static double getAngle(StrokePoint* S1, StrokePoint* E1, StrokePoint* S2, StrokePoint* E2);
    // Width factor of the soft pen for the direction p1 -> p2.
    static double getRadian(QPointF* p1, QPointF* p2);

    StrokeType type;
    std::deque<Segment*> segments;  // owned, drawing order, at least one
    int width;
    int colorIdx;
    int64_t startTime;
    float angle;
};

#endif
