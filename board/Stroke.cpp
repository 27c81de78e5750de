#include "Stroke.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double PI = 3.14159265358979323846;
}

Stroke::Stroke(StrokeType type, int width, int colorIdx, long time, QPointF point)
    : type(type), width(width), colorIdx(colorIdx), startTime(time), angle(0)
{
    segments.push_back(new Segment(time, point));
}

Stroke::Stroke(long time, QPointF point) : type(TT_E_TRAP), width(0), colorIdx(0), startTime(time), angle(0)
{
    segments.push_back(new Segment(time, point));
}

Stroke::Stroke(long time, QRectF rect) : type(TT_E_RECT), width(0), colorIdx(0), startTime(time), angle(0)
{
    segments.push_back(new Segment(time, rect));
}

Stroke::~Stroke()
{
    for (Segment* seg : segments)
        delete seg;
}

bool Stroke::addPoint(long time, QPointF point)
{
    Segment* seg = segments.back();
    StrokePoint* last = seg->getLastPoint();
    StrokePoint* sp = new StrokePoint(time, float(point.x()), float(point.y()));

    // A repeated sample only refreshes the time of the previous one.
    if (sp->equals(last)) {
        last->time = time;
        delete sp;
        return false;
    }

    switch (type) {
    case TT_E_RECT:
    case TT_E_TRAP:
    case TT_P_HARD:
        seg->append(sp);
        return false;
    case TT_UNKNOW:
        delete sp;
        return false;
    case TT_P_SOFT:
        break;
    }

    bool didSplit = false;
    const std::vector<StrokePoint*>& pts = seg->points;
    const int ps = int(pts.size());
    if (ps > 4) {
        // Walk back from the new sample until the path is longer than three
        // pen widths and at least five points lie behind.
        float dis = sp->distance(pts[ps - 1]->point);
        int cnt = 1;
        int startIdx = -1;
        const float limit = float(3 * width);
        for (int i = ps - 2; i >= 0; --i) {
            dis += pts[i + 1]->distance(pts[i]->point);
            if (dis > limit && cnt > 4) {
                startIdx = i;
                break;
            }
            ++cnt;
        }
        if (startIdx >= 0) {
            StrokePoint* startSp = pts[startIdx];
            double maxAngle = 0;
            int turnIdx = 0;
            int turns = 0;
            // Newest first, so on a tie the later point wins.
            for (int i = ps - 1; i > startIdx; --i) {
                double turn = getAngle(startSp, pts[i], pts[i], sp);
                if (turn > 40)
                    ++turns;
                if (turn > maxAngle) {
                    turnIdx = i;
                    maxAngle = turn;
                }
            }
            if (turns > 1) {
                seg = seg->split(unsigned(turnIdx));
                segments.push_back(seg);
                didSplit = true;
            }
        }
    }
    seg->append(sp);
    return didSplit;
}

void Stroke::addRect(long time, QRectF rect)
{
    Segment* seg = segments.empty() ? nullptr : segments.back();
    if (!seg || seg->points.empty())
        return;
    seg->append(new StrokePoint(time, float(rect.left()), float(rect.top()), float(rect.right()),
                                float(rect.bottom())));
}

double Stroke::distance(QPointF* point) const
{
    if (segments.empty())
        return 999999;
    StrokePoint* last = segments.back()->getLastPoint();
    if (!last)
        return 999999;
    return last->distance(point);
}

Segment* Stroke::getSecondLast() const
{
    if (segments.size() < 2)
        return nullptr;
    return segments[segments.size() - 2];
}

double Stroke::getAngle(StrokePoint* S1, StrokePoint* E1)
{
    double DisX = double(E1->GetX() - S1->GetX());
    double DisY = double(E1->GetY() - S1->GetY());
    double base;
    if (DisX == 0)
        base = PI / 2;
    else
        base = std::atan(std::fabs(std::trunc(DisY / DisX)));
    double angle;
    if (DisX < 0 && DisY >= 0)
        angle = PI - base;
    else if (DisX < 0 && DisY < 0)
        angle = PI + base;
    else if (DisX >= 0 && DisY < 0)
        angle = 2 * PI - base;
    else
        angle = base;
    return angle * 180 / PI;
}

double Stroke::getAngle(QPointF* p1, QPointF* p2)
{
    double a = std::fmod(std::atan2(p2->y() - p1->y(), p2->x() - p1->x()), 2 * PI);
    if (a < 0)
        a += 2 * PI;
    return std::fmod(a * 57.29577951308232, 360.0);
}

double Stroke::getAngle(StrokePoint* S1, StrokePoint* E1, StrokePoint* S2, StrokePoint* E2)
{
    if (S1->equals(E1) || S2->equals(E2))
        return 0;
    double d = getAngle(S1, E1) - getAngle(S2, E2);
    double D = std::trunc(std::fabs(d));
    double R = 360 - D;
    return std::min(D, std::fabs(R));
}

double Stroke::getRadian(QPointF* p1, QPointF* p2)
{
    double r = std::atan2(p2->y() - p1->y(), p2->x() - p1->x());
    if (r < 0)
        r += 2 * PI;
    return ((std::cos(r - PI / 4) + 3) / 3) * ((std::sin(2 * r) + 3) / 3);
}
