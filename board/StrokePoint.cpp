#include "StrokePoint.h"

#include "Utils.h"

#include <cmath>

StrokePoint::StrokePoint() : time(0), point(new QPointF(0, 0)), point2(nullptr) {}

StrokePoint::StrokePoint(long time, float X, float Y) : time(time), point(new QPointF(X, Y)), point2(nullptr) {}

StrokePoint::StrokePoint(long time, float X, float Y, float X2, float Y2)
    : time(time), point(new QPointF(X, Y)), point2(new QPointF(X2, Y2))
{
}

StrokePoint::~StrokePoint()
{
    delete point;
    delete point2;
}

StrokePoint::StrokePoint(const StrokePoint& other)
    : time(other.time),
      point(new QPointF(*other.point)),
      point2(other.point2 ? new QPointF(*other.point2) : nullptr)
{
}

StrokePoint& StrokePoint::operator=(const StrokePoint& other)
{
    if (this == &other)
        return *this;
    time = other.time;
    *point = *other.point;
    if (other.point2) {
        if (point2)
            *point2 = *other.point2;
        else
            point2 = new QPointF(*other.point2);
    } else {
        delete point2;
        point2 = nullptr;
    }
    return *this;
}

float StrokePoint::GetX() const
{
    return float(point->x());
}

float StrokePoint::GetY() const
{
    return float(point->y());
}

bool StrokePoint::equals(StrokePoint* Other) const
{
    if (!Other)
        return false;
    if (!Utils::isEquals(float(point->x()), float(Other->point->x())) ||
        !Utils::isEquals(float(point->y()), float(Other->point->y())))
        return false;
    if ((point2 == nullptr) != (Other->point2 == nullptr))
        return false;
    if (!point2)
        return true;
    return Utils::isEquals(float(point2->x()), float(Other->point2->x())) &&
           Utils::isEquals(float(point2->y()), float(Other->point2->y()));
}

float StrokePoint::distance(QPointF* other) const
{
    if (!other)
        return 999999.0f;
    double dx = other->x() - point->x();
    double dy = other->y() - point->y();
    return float(std::sqrt(dx * dx + dy * dy));
}
