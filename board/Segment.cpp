#include "Segment.h"

#include <stdexcept>

Segment::Segment(long time, QPointF point) : store_(std::make_shared<Store>())
{
    append(new StrokePoint(time, float(point.x()), float(point.y())));
}

Segment::Segment(long time, QRectF rect) : store_(std::make_shared<Store>())
{
    append(new StrokePoint(time, float(rect.left()), float(rect.top()), float(rect.right()),
                           float(rect.bottom())));
}

Segment::Segment(std::vector<StrokePoint*> points) : points(std::move(points)) {}

Segment::Segment(std::vector<StrokePoint*> points, std::shared_ptr<Store> store)
    : points(std::move(points)), store_(std::move(store))
{
}

Segment::~Segment() = default;

Segment* Segment::split(unsigned int idx)
{
    if (idx >= points.size())
        throw std::runtime_error("Idx out of range");
    std::vector<StrokePoint*> result(points.begin() + idx, points.end());
    points.resize(size_t(idx) + 1);
    // Both halves keep the store alive: the shared boundary point is freed
    // once, with the last of them.
    return new Segment(std::move(result), store_);
}

StrokePoint* Segment::getLastPoint() const
{
    return points.empty() ? nullptr : points.back();
}

void Segment::append(StrokePoint* sp)
{
    if (!store_)
        store_ = std::make_shared<Store>();
    store_->emplace_back(sp);
    points.push_back(sp);
}
