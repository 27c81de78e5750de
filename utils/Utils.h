#ifndef TAVLO_UTILS_H
#define TAVLO_UTILS_H

#include <QJsonValue>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <cmath>
#include <cstdint>
#include <optional>

// Unit of Utils::clocktime.
enum timeunit { s = 0, ms = 1, us = 2 };

// Small stateless helpers shared by the whiteboard and the shell. Safe to call
// from any thread.
class Utils {
public:
    // Monotonic time since an arbitrary epoch, truncated to the unit.
    static uint64_t clocktime(timeunit unit);

    // True when |a - b| < 0.01 in single precision; false for NaN.
    static bool isEquals(float a, float b)
    {
        return std::fabs(a - b) < 0.01f;
    }

    // Multiplies all four edges by scale: position and size scale about (0, 0).
    static void scaleRect(QRectF& rect, float scale);

    // Fits Src into Tag keeping Src's aspect ratio (ratios in single precision).
    static void scaleInSize(QSizeF& Src, QSizeF Tag);

    // Dotted text of an IPv4 number, most significant byte first.
    static QString intToIp(int ipInt);

    // The value of a JSON number that is integral and fits a signed 32-bit
    // integer; nothing for anything else (a string, a fraction, 2^31, null,
    // a missing key). The rule by which the configuration and the classroom
    // messages read their numbers.
    static std::optional<int32_t> jsonInt32(const QJsonValue& v);
};

#endif
