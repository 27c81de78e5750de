#include "Utils.h"

#include <chrono>
#include <limits>

uint64_t Utils::clocktime(timeunit unit)
{
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    const uint64_t micros = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
    switch (unit) {
    case s:
        return micros / 1000000;
    case ms:
        return micros / 1000;
    case us:
        return micros;
    }
    return 0;
}

void Utils::scaleRect(QRectF& rect, float scale)
{
    const double k = scale;
    rect.setLeft(rect.left() * k);
    rect.setTop(rect.top() * k);
    rect.setRight(rect.right() * k);
    rect.setBottom(rect.bottom() * k);
}

void Utils::scaleInSize(QSizeF& Src, QSizeF Tag)
{
    const float fx = static_cast<float>(static_cast<double>(static_cast<float>(Src.width())) / Tag.width());
    const float fy = static_cast<float>(static_cast<double>(static_cast<float>(Src.height())) / Tag.height());
    if (fy >= fx) {
        Src.setWidth(Src.width() / fy);
        Src.setHeight(Tag.height());
    } else {
        Src.setWidth(Tag.width());
        Src.setHeight(Src.height() / fx);
    }
}

QString Utils::intToIp(int ipInt)
{
    const uint32_t v = static_cast<uint32_t>(ipInt);
    return QString("%1.%2.%3.%4").arg((v >> 24) & 255).arg((v >> 16) & 255).arg((v >> 8) & 255).arg(v & 255);
}

std::optional<int32_t> Utils::jsonInt32(const QJsonValue& v)
{
    if (!v.isDouble())
        return std::nullopt;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || d < std::numeric_limits<int32_t>::min() ||
        d > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(d);
}
