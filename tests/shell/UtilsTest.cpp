#include "Utils.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <limits>

TEST(UtilsClock, UnitsAgreeAndTimeAdvances)
{
    // Milliseconds against Qt's own steady clock, read just inside and just
    // outside them: however long the sleep really takes on a busy machine,
    // the two readings bracket the difference, so only a wrong unit or a
    // clock that stands still fails.
    QElapsedTimer outer;
    outer.start();
    const uint64_t a = Utils::clocktime(ms);
    QElapsedTimer inner;
    inner.start();
    QThread::msleep(250);
    const qint64 innerMs = inner.elapsed();
    const uint64_t b = Utils::clocktime(ms);
    const qint64 outerMs = outer.elapsed();
    EXPECT_GE(b - a, 250u);
    EXPECT_GE(static_cast<qint64>(b - a) + 1, innerMs);
    EXPECT_LE(static_cast<qint64>(b - a), outerMs + 1);

    // Seconds are microseconds divided by a million, truncated; sample the
    // microseconds around the seconds so that a second boundary cannot fall
    // between them unnoticed.
    const uint64_t u1 = Utils::clocktime(us);
    const uint64_t sec = Utils::clocktime(s);
    const uint64_t u2 = Utils::clocktime(us);
    EXPECT_TRUE(sec == u1 / 1000000 || sec == u2 / 1000000);
    const uint64_t m = Utils::clocktime(ms);
    EXPECT_LE(u1 / 1000, m);
    EXPECT_EQ(Utils::clocktime(static_cast<timeunit>(3)), 0u);
    EXPECT_EQ(Utils::clocktime(static_cast<timeunit>(-1)), 0u);
}

TEST(UtilsIsEquals, ThresholdAndNaN)
{
    EXPECT_TRUE(Utils::isEquals(1.0f, 1.005f));
    EXPECT_FALSE(Utils::isEquals(1.0f, 1.02f));
    EXPECT_TRUE(Utils::isEquals(-3.0f, -3.009f));
    // The difference must be strictly below the float nearest to 0.01.
    EXPECT_FALSE(Utils::isEquals(0.01f, 0.0f));
    EXPECT_TRUE(Utils::isEquals(std::nextafter(0.01f, 0.0f), 0.0f));
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(Utils::isEquals(1.0f, nan));
    EXPECT_FALSE(Utils::isEquals(nan, nan));
    EXPECT_FALSE(Utils::isEquals(std::numeric_limits<float>::infinity(), std::numeric_limits<float>::infinity()));
}

TEST(UtilsScaleRect, EdgesScaleAboutOrigin)
{
    QRectF r(10, 20, 30, 40);
    Utils::scaleRect(r, 2);
    EXPECT_EQ(r, QRectF(20, 40, 60, 80));

    QRectF neg(10, 20, 30, 40);
    Utils::scaleRect(neg, -1);
    EXPECT_DOUBLE_EQ(neg.left(), -10);
    EXPECT_DOUBLE_EQ(neg.right(), -40);
    EXPECT_DOUBLE_EQ(neg.width(), -30);
    EXPECT_DOUBLE_EQ(neg.height(), -40);

    QRectF zero(10, 20, 30, 40);
    Utils::scaleRect(zero, 0);
    EXPECT_TRUE(zero.isEmpty());
    EXPECT_EQ(zero.topLeft(), QPointF(0, 0));
}

TEST(UtilsScaleInSize, SinglePrecisionRatios)
{
    QSizeF a(1920, 1080);
    Utils::scaleInSize(a, QSizeF(800, 600));
    EXPECT_DOUBLE_EQ(a.width(), 800);
    // 1080 / (float)2.4 in double: 449.99998..., not 450.
    EXPECT_DOUBLE_EQ(a.height(), 1080.0 / static_cast<double>(2.4f));
    EXPECT_NE(a.height(), 450.0);
    EXPECT_NEAR(a.height(), 449.99998, 1e-5);

    QSizeF b(1000, 1000);
    Utils::scaleInSize(b, QSizeF(800, 600));
    EXPECT_DOUBLE_EQ(b.height(), 600);
    EXPECT_DOUBLE_EQ(b.width(), 1000.0 / static_cast<double>(1000.0f / 600.0f));
    EXPECT_NEAR(b.width(), 600.00001, 1e-5);

    // Tie at 0.5: the height branch.
    QSizeF c(400, 300);
    Utils::scaleInSize(c, QSizeF(800, 600));
    EXPECT_DOUBLE_EQ(c.width(), 800);
    EXPECT_DOUBLE_EQ(c.height(), 600);

    // Enlarging a tall picture into a wide box is limited by the height.
    QSizeF d(960, 1080);
    Utils::scaleInSize(d, QSizeF(1920, 1080));
    EXPECT_DOUBLE_EQ(d.width(), 960);
    EXPECT_DOUBLE_EQ(d.height(), 1080);
}

TEST(UtilsIntToIp, BytesMostSignificantFirst)
{
    const int classroom = static_cast<int>((192u << 24) | (168u << 16) | (7u << 8) | 170u);
    EXPECT_EQ(Utils::intToIp(classroom), "192.168.7.170");
    EXPECT_EQ(Utils::intToIp(-1), "255.255.255.255");
    EXPECT_EQ(Utils::intToIp(0), "0.0.0.0");
    EXPECT_EQ(Utils::intToIp(0x7F000001), "127.0.0.1");
    EXPECT_EQ(Utils::intToIp(0x0A00FF05), "10.0.255.5");
}

TEST(UtilsJsonInt32, OnlyIntegralNumbersThatFitThirtyTwoBits)
{
    EXPECT_EQ(Utils::jsonInt32(QJsonValue(2)), 2);
    EXPECT_EQ(Utils::jsonInt32(QJsonValue(-2147483648.0)), INT32_MIN);
    EXPECT_EQ(Utils::jsonInt32(QJsonValue(2147483647.0)), INT32_MAX);
    EXPECT_EQ(Utils::jsonInt32(QJsonValue(-0.0)), 0);
    EXPECT_FALSE(Utils::jsonInt32(QJsonValue(2147483648.0)));
    EXPECT_FALSE(Utils::jsonInt32(QJsonValue(-2147483649.0)));
    EXPECT_FALSE(Utils::jsonInt32(QJsonValue(1.5)));
    EXPECT_FALSE(Utils::jsonInt32(QJsonValue(QStringLiteral("3"))));
    EXPECT_FALSE(Utils::jsonInt32(QJsonValue(true)));
    EXPECT_FALSE(Utils::jsonInt32(QJsonValue()));
    EXPECT_FALSE(Utils::jsonInt32(QJsonValue(QJsonValue::Undefined)));
}
