// Draws the whiteboard's compiled-in pictures and writes the group's .qrc
// file. Run at build time: tavlo-mkboard board|toolbar <output-dir>; the
// toolbar's button pictures are drawn in ToolbarPictures.cpp.
//
//   assert/网格线_田字_{小,中,大}.png  field-grid tiles, 54, 81 and 108 px
//   assert/网格线_线条_{小,中,大}.png  line-grid tiles, same sizes
//   assert/dot/N_SxS.png              61 brush-nib stamps, N = 1..61, S the
//                                     smallest odd side not below N nor 3
//
// The stamps are white; their form lives only in the alpha channel (colour 0
// with alpha 0 outside), so that the board can tint them with a bitwise AND.
#include "ResourceFiles.h"
#include "ToolbarPictures.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <vector>

namespace {

// The grey of the grid lines.
const int GRID_GREY = 185;

// A grey line across the tile; dashed lines are symmetric about the tile's
// centre, which is always inked.
void hline(QImage& img, int y, int alpha, int dash)
{
    const int mid = img.width() / 2;
    for (int x = 0; x < img.width(); ++x)
        if (dash == 0 || (std::abs(x - mid) / dash) % 2 == 0)
            img.setPixel(x, y, qRgba(GRID_GREY, GRID_GREY, GRID_GREY, alpha));
}

void vline(QImage& img, int x, int alpha, int dash)
{
    const int mid = img.height() / 2;
    for (int y = 0; y < img.height(); ++y)
        if (dash == 0 || (std::abs(y - mid) / dash) % 2 == 0)
            img.setPixel(x, y, qRgba(GRID_GREY, GRID_GREY, GRID_GREY, alpha));
}

// Field grid (the square of a character exercise book): a frame around the
// tile and a fainter dashed cross through its centre. Tiled, neighbouring
// frames meet in a two-pixel line.
QImage drawFieldTile(int side)
{
    QImage img(side, side, QImage::Format_ARGB32);
    img.fill(0);
    const int mid = side / 2;
    hline(img, mid, 40, 3);
    vline(img, mid, 40, 3);
    hline(img, 0, 80, 0);
    hline(img, side - 1, 80, 0);
    vline(img, 0, 80, 0);
    vline(img, side - 1, 80, 0);
    return img;
}

// Line grid: ruled paper, one faint horizontal rule per tile.
QImage drawLineTile(int side)
{
    QImage img(side, side, QImage::Format_ARGB32);
    img.fill(0);
    hline(img, side - 1, 70, 0);
    return img;
}

// A brush nib pressed onto paper: an ellipse whose long axis runs from the
// top-left to the bottom-right corner, with a soft, anti-aliased rim. Each
// pixel's coverage is sampled on a 5 x 5 grid.
QImage drawDot(int side)
{
    QImage img(side, side, QImage::Format_ARGB32);
    img.fill(0);
    const double c = side / 2.0;
    // Semi-axes along the diagonal (a) and across it (b); the smallest stamps
    // are nearly round so that they still fill their square.
    const double a = side / 2.0 * 1.0;
    const double b = side / 2.0 * (side <= 5 ? 0.9 : 0.62);
    const double k = std::sqrt(0.5);
    const int n = 5;
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            int hits = 0;
            for (int sy = 0; sy < n; ++sy) {
                for (int sx = 0; sx < n; ++sx) {
                    const double px = x + (sx + 0.5) / n - c;
                    const double py = y + (sy + 0.5) / n - c;
                    const double u = (px + py) * k;   // along the slant
                    const double v = (py - px) * k;   // across it
                    if ((u * u) / (a * a) + (v * v) / (b * b) <= 1.0)
                        ++hits;
                }
            }
            if (hits > 0) {
                const int alpha = std::min(255, (hits * 255 + n * n / 2) / (n * n));
                img.setPixel(x, y, qRgba(255, 255, 255, alpha));
            }
        }
    }
    return img;
}

bool makeBoard(const QString& dir)
{
    std::vector<ResourceEntry> e;
    bool ok = true;
    const int sides[3] = {54, 81, 108};
    const char* sizeNames[3] = {"小", "中", "大"};
    for (int i = 0; i < 3; ++i) {
        QString field = QString("grid_field_%1.png").arg(sides[i]);
        ok &= savePicture(drawFieldTile(sides[i]), dir + "/" + field);
        e.push_back({QString::fromUtf8("assert/网格线_田字_") + QString::fromUtf8(sizeNames[i]) + ".png", field});
        QString line = QString("grid_line_%1.png").arg(sides[i]);
        ok &= savePicture(drawLineTile(sides[i]), dir + "/" + line);
        e.push_back({QString::fromUtf8("assert/网格线_线条_") + QString::fromUtf8(sizeNames[i]) + ".png", line});
    }
    QDir().mkpath(dir + "/dot");
    for (int k = 1; k <= 61; ++k) {
        const int side = k == 1 ? 3 : 2 * (k / 2) + 1;
        const QString name = QString("%1_%2x%2.png").arg(k).arg(side);
        ok &= savePicture(drawDot(side), dir + "/dot/" + name);
        e.push_back({"assert/dot/" + name, "dot/" + name});
    }
    return ok && writeQrc(dir, "board", e);
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString group = argc == 3 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (group != "board" && group != "toolbar") {
        std::fprintf(stderr, "usage: tavlo-mkboard board|toolbar OUTPUT-DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(dir);
    return (group == "board" ? makeBoard(dir) : makeToolbar(dir)) ? 0 : 1;
}
