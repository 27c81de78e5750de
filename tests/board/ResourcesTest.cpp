// The whiteboard's compiled-in pictures and the tables the board builds from
// them: dot stamps (with their tinted rows) and grid tiles.
#include "BoardTestUtil.h"

#include <QImage>

// Widget tests draw into raster images; no display is needed.
static const bool offscreenPlatform = (qputenv("QT_QPA_PLATFORM", "offscreen"), true);

using namespace btest;

namespace {

QImage resource(const char* name)
{
    return QImage(QString::fromUtf8(name)).convertToFormat(QImage::Format_ARGB32);
}

// Pixmaps may hold their pixels premultiplied; compare in that form.
QImage premultiplied(const QImage& img)
{
    return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

class ResourcesTest : public BoardTest {};

}  // namespace

TEST_F(ResourcesTest, DotColumnsComeFromTheirStampFiles)
{
    makeBoard(200, 100, false);
    struct Case {
        int column;
        const char* file;
        int side;
    } cases[] = {{0, ":/assert/dot/1_3x3.png", 3},
                 {1, ":/assert/dot/2_3x3.png", 3},
                 {3, ":/assert/dot/4_5x5.png", 5},
                 {7, ":/assert/dot/8_9x9.png", 9},
                 {59, ":/assert/dot/60_61x61.png", 61},
                 {60, ":/assert/dot/61_61x61.png", 61}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QImage src = resource(c.file);
        ASSERT_FALSE(src.isNull());
        EXPECT_EQ(src.size(), QSize(c.side, c.side));
        ASSERT_NE(dots[5][c.column], nullptr);
        EXPECT_EQ(toImage(*dots[5][c.column]), src);
    }
    // Every column holds a stamp of the side its size index calls for.
    for (int i = 0; i < 61; ++i) {
        const int k = i + 1;
        const int side = k == 1 ? 3 : 2 * (k / 2) + 1;
        for (int c = 0; c < 6; ++c)
            ASSERT_EQ(dots[c][i]->size(), QSize(side, side)) << "row " << c << " column " << i;
    }
}

TEST_F(ResourcesTest, StampsAreWhiteNibsSlantingDownRight)
{
    for (int k : {9, 21, 41, 61}) {
        SCOPED_TRACE(k);
        const int side = 2 * (k / 2) + 1;
        const QImage img = resource(QString(":/assert/dot/%1_%2x%2.png").arg(k).arg(side).toUtf8().constData());
        ASSERT_FALSE(img.isNull());
        int inked = 0;
        for (int y = 0; y < side; ++y) {
            for (int x = 0; x < side; ++x) {
                const QRgb p = img.pixel(x, y);
                if (qAlpha(p) == 0) {
                    EXPECT_EQ(p, 0u) << x << "," << y;  // colour 0 outside the shape
                } else {
                    ++inked;
                    EXPECT_EQ(rgbOnly(p), 0xFFFFFFu) << x << "," << y;
                }
            }
        }
        EXPECT_GT(inked, side * side / 4);
        EXPECT_EQ(alphaAt(img, side / 2, side / 2), 255);
        // Along the top-left/bottom-right diagonal the nib reaches further
        // than along the other one.
        const int q = side / 4;
        EXPECT_GT(alphaAt(img, q, q) + alphaAt(img, side - 1 - q, side - 1 - q),
                  alphaAt(img, side - 1 - q, q) + alphaAt(img, q, side - 1 - q));
    }
}

TEST_F(ResourcesTest, TintedRowsKeepAlphaAndTakeThePaletteColour)
{
    makeBoard(200, 100, false);
    for (int column : {0, 7, 30, 60}) {
        const QImage white = toImage(*dots[5][column]);
        for (int c = 0; c < 5; ++c) {
            SCOPED_TRACE(testing::Message() << "row " << c << " column " << column);
            const QImage tinted = toImage(*dots[c][column]);
            ASSERT_EQ(tinted.size(), white.size());
            int coloured = 0;
            for (int y = 0; y < white.height(); ++y) {
                for (int x = 0; x < white.width(); ++x) {
                    const QRgb w = white.pixel(x, y), t = tinted.pixel(x, y);
                    ASSERT_EQ(qAlpha(t), qAlpha(w)) << x << "," << y;
                    if (qAlpha(w) == 255) {
                        EXPECT_EQ(t, COLORS[c]);
                        ++coloured;
                    } else if (qAlpha(w) > 0) {
                        EXPECT_EQ(rgbOnly(t), rgbOnly(COLORS[c]));
                    }
                }
            }
            EXPECT_GT(coloured, 0);
        }
    }
}

TEST_F(ResourcesTest, FieldGridTilesAreAFrameWithAFainterCross)
{
    makeBoard(200, 100, false);
    const char* names[3] = {":/assert/网格线_田字_小.png", ":/assert/网格线_田字_中.png", ":/assert/网格线_田字_大.png"};
    const int sides[3] = {54, 81, 108};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        const QImage img = resource(names[i]);
        ASSERT_EQ(img.size(), QSize(sides[i], sides[i]));
        EXPECT_EQ(premultiplied(fieldGridBmps[i]->toImage()), premultiplied(img));
        const int s = sides[i], mid = s / 2;
        const QRgb frame = img.pixel(0, mid + 1);
        EXPECT_EQ(rgbOnly(frame), qRgb(185, 185, 185) & 0xFFFFFF);
        EXPECT_GT(qAlpha(frame), 0);
        EXPECT_LT(qAlpha(frame), 128);  // low opacity
        EXPECT_EQ(img.pixel(s - 1, mid + 1), frame);
        EXPECT_EQ(img.pixel(mid + 1, 0), frame);
        EXPECT_EQ(img.pixel(mid + 1, s - 1), frame);
        // The cross through the centre is fainter than the frame.
        EXPECT_EQ(rgbOnly(img.pixel(mid, mid)), qRgb(185, 185, 185) & 0xFFFFFF);
        EXPECT_GT(qAlpha(img.pixel(mid, mid)), 0);
        EXPECT_LT(qAlpha(img.pixel(mid, mid)), qAlpha(frame));
        // Elsewhere the tile is transparent.
        EXPECT_EQ(img.pixel(s / 4, s / 4 + 1), 0u);
        EXPECT_EQ(img.pixel(3 * s / 4, s / 3), 0u);
    }
}

TEST_F(ResourcesTest, LineGridTilesAreFaintHorizontalRules)
{
    makeBoard(200, 100, false);
    const char* names[3] = {":/assert/网格线_线条_小.png", ":/assert/网格线_线条_中.png", ":/assert/网格线_线条_大.png"};
    const int sides[3] = {54, 81, 108};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(names[i]);
        const QImage img = resource(names[i]);
        ASSERT_EQ(img.size(), QSize(sides[i], sides[i]));
        EXPECT_EQ(premultiplied(lineGridBmps[i]->toImage()), premultiplied(img));
        int rules = 0;
        for (int y = 0; y < img.height(); ++y) {
            const QRgb first = img.pixel(0, y);
            for (int x = 1; x < img.width(); ++x)
                ASSERT_EQ(img.pixel(x, y), first) << "row " << y << " is not a full horizontal rule";
            if (qAlpha(first) > 0) {
                ++rules;
                EXPECT_LT(qAlpha(first), 128);
                EXPECT_EQ(qRed(first), qGreen(first));
                EXPECT_EQ(qGreen(first), qBlue(first));
            }
        }
        EXPECT_GE(rules, 1);
        EXPECT_LT(rules, sides[i] / 4);
    }
}
