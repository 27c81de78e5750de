// The board toolbar's button pictures, drawn with the painter only (no font,
// no file), at the size they are shown: 70 x 70.
#include "ToolbarPictures.h"

#include "ResourceFiles.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <functional>
#include <vector>

namespace {

const int SIDE = 70;
const QColor INK(255, 255, 255);
// The pen palette of the board (red, blue, green, yellow, magenta, white).
const QRgb PALETTE[6] = {0xFFFF0000, 0xFF0000FF, 0xFF00FF00, 0xFFFFFF00, 0xFFFF00FF, 0xFFFFFFFF};
// Pen widths 2, 4 and 8 shown as dots of these diameters.
const qreal SIZE_DOTS[3] = {7, 14, 26};

using Glyph = std::function<void(QPainter&)>;

QPen line(qreal width = 4.5)
{
    return QPen(INK, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// An arrow head at tip pointing along the direction dir (unit vector).
void arrowHead(QPainter& p, QPointF tip, QPointF dir)
{
    const QPointF n(-dir.y(), dir.x());
    QPolygonF head;
    head << tip << tip - dir * 11 + n * 8 << tip - dir * 11 - n * 8;
    p.setPen(Qt::NoPen);
    p.setBrush(INK);
    p.drawPolygon(head);
}

void pen(QPainter& p, bool soft)
{
    // A slanted pen above the line it leaves.
    p.save();
    p.translate(40, 30);
    p.rotate(45);
    p.setPen(line(3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(-6, -20, 12, 30), 2, 2);
    QPolygonF tip;
    tip << QPointF(-6, 10) << QPointF(6, 10) << QPointF(0, 19);
    p.setBrush(INK);
    p.drawPolygon(tip);
    p.restore();
    if (soft) {
        // A line that swells and thins, as the soft pen draws.
        QPainterPath path;
        path.moveTo(10, 58);
        path.cubicTo(18, 50, 26, 64, 34, 57);
        path.cubicTo(38, 53, 44, 56, 48, 54);
        path.cubicTo(44, 59, 36, 58, 32, 62);
        path.cubicTo(24, 68, 16, 58, 10, 58);
        p.setPen(QPen(INK, 1.5));
        p.setBrush(INK);
        p.drawPath(path);
    } else {
        p.setPen(line(4));
        p.drawLine(QPointF(10, 59), QPointF(48, 59));
    }
}

void colour(QPainter& p, QRgb rgb)
{
    p.setPen(QPen(INK, 2.5));
    p.setBrush(QColor::fromRgba(rgb));
    p.drawEllipse(QPointF(35, 35), 17, 17);
}

void size(QPainter& p, qreal d)
{
    p.setPen(Qt::NoPen);
    p.setBrush(INK);
    p.drawEllipse(QPointF(35, 35), d / 2, d / 2);
}

void rectEraser(QPainter& p)
{
    p.setPen(line(3.5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(19, 19, 32, 32));
    p.setPen(QPen(INK, 2, Qt::DashLine));
    p.drawLine(QPointF(12, 35), QPointF(19, 35));
    p.drawLine(QPointF(51, 35), QPointF(58, 35));
}

void freeEraser(QPainter& p)
{
    // An eraser block over a looping line.
    p.save();
    p.translate(40, 28);
    p.rotate(-35);
    p.setPen(line(3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(-16, -9, 32, 18), 3, 3);
    p.setBrush(INK);
    p.drawRect(QRectF(-16, -9, 11, 18));
    p.restore();
    QPainterPath path;
    path.moveTo(10, 56);
    path.cubicTo(18, 44, 26, 66, 34, 54);
    path.cubicTo(40, 46, 48, 62, 58, 54);
    p.setPen(QPen(INK, 3, Qt::DotLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
}

void turnArrow(QPainter& p, bool back)
{
    p.save();
    if (!back) {
        p.translate(SIDE, 0);
        p.scale(-1, 1);
    }
    QPainterPath path;
    path.moveTo(22, 28);
    path.lineTo(42, 28);
    path.cubicTo(58, 28, 58, 54, 42, 54);
    path.lineTo(26, 54);
    p.setPen(line());
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    arrowHead(p, QPointF(12, 28), QPointF(-1, 0));
    p.restore();
}

void sheet(QPainter& p, QRectF r)
{
    p.setPen(line(3.5));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r);
}

void clearPage(QPainter& p)
{
    sheet(p, QRectF(16, 12, 38, 46));
    p.setPen(line(4));
    p.drawLine(QPointF(26, 26), QPointF(44, 44));
    p.drawLine(QPointF(44, 26), QPointF(26, 44));
}

void newPageGlyph(QPainter& p)
{
    sheet(p, QRectF(16, 12, 38, 46));
    p.setPen(line(4.5));
    p.drawLine(QPointF(35, 24), QPointF(35, 46));
    p.drawLine(QPointF(24, 35), QPointF(46, 35));
}

void chevron(QPainter& p, bool left)
{
    p.setPen(line(6));
    p.setBrush(Qt::NoBrush);
    const qreal s = left ? 1 : -1;
    QPolygonF v;
    v << QPointF(35 + 8 * s, 18) << QPointF(35 - 9 * s, 35) << QPointF(35 + 8 * s, 52);
    p.drawPolyline(v);
}

void background(QPainter& p)
{
    // The three page colours, green, black and white, as overlapping sheets.
    const QColor fills[3] = {QColor(0x27, 0x41, 0x43), QColor(0x21, 0x28, 0x2f), QColor(255, 255, 255)};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(INK, 2.5));
        p.setBrush(fills[i]);
        p.drawRect(QRectF(12 + i * 10, 14 + i * 10, 28, 24));
    }
}

void gridGlyph(QPainter& p, int cells)
{
    p.setPen(line(2.5));
    p.setBrush(Qt::NoBrush);
    const QRectF r(14, 14, 42, 42);
    p.drawRect(r);
    for (int i = 1; i < cells; ++i) {
        const qreal o = r.left() + r.width() * i / cells;
        p.drawLine(QPointF(o, r.top()), QPointF(o, r.bottom()));
        p.drawLine(QPointF(r.left(), o), QPointF(r.right(), o));
    }
}

void gridSize(QPainter& p)
{
    // A small grid and a large one.
    p.setPen(line(2));
    p.setBrush(Qt::NoBrush);
    const QRectF a(10, 10, 22, 22);
    p.drawRect(a);
    for (int i = 1; i < 3; ++i) {
        p.drawLine(QPointF(a.left() + a.width() * i / 3, a.top()), QPointF(a.left() + a.width() * i / 3, a.bottom()));
        p.drawLine(QPointF(a.left(), a.top() + a.height() * i / 3), QPointF(a.right(), a.top() + a.height() * i / 3));
    }
    const QRectF b(30, 30, 30, 30);
    p.setPen(line(3));
    p.drawRect(b);
    p.drawLine(QPointF(45, 30), QPointF(45, 60));
    p.drawLine(QPointF(30, 45), QPointF(60, 45));
}

void savePng(QPainter& p)
{
    // A picture (hills and a sun) with an arrow down into a tray.
    sheet(p, QRectF(12, 10, 46, 34));
    QPolygonF hills;
    hills << QPointF(14, 42) << QPointF(26, 28) << QPointF(34, 36) << QPointF(42, 26) << QPointF(56, 42);
    p.setPen(Qt::NoPen);
    p.setBrush(INK);
    p.drawPolygon(hills);
    p.drawEllipse(QPointF(22, 19), 4, 4);
    p.setPen(line(4));
    p.drawLine(QPointF(35, 47), QPointF(35, 58));
    arrowHead(p, QPointF(35, 64), QPointF(0, 1));
}

void savePdf(QPainter& p)
{
    // A stack of pages with an arrow down.
    p.setBrush(Qt::NoBrush);
    p.setPen(line(3));
    p.drawRect(QRectF(22, 8, 34, 38));
    p.drawLine(QPointF(16, 14), QPointF(16, 52));
    p.drawLine(QPointF(16, 52), QPointF(26, 52));
    p.drawLine(QPointF(10, 20), QPointF(10, 58));
    p.drawLine(QPointF(10, 58), QPointF(20, 58));
    p.setPen(line(4));
    p.drawLine(QPointF(39, 18), QPointF(39, 46));
    arrowHead(p, QPointF(39, 62), QPointF(0, 1));
}

void reopen(QPainter& p)
{
    // An open folder.
    QPolygonF back;
    back << QPointF(10, 20) << QPointF(26, 20) << QPointF(31, 25) << QPointF(54, 25) << QPointF(54, 54)
         << QPointF(10, 54);
    p.setPen(line(3));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(back);
    QPolygonF front;
    front << QPointF(10, 54) << QPointF(19, 33) << QPointF(62, 33) << QPointF(54, 54);
    p.setBrush(INK);
    p.drawPolygon(front);
}

void fullScreen(QPainter& p)
{
    // Four corners pointing outwards.
    p.setPen(line(4.5));
    p.setBrush(Qt::NoBrush);
    const qreal a = 14, b = 56, l = 12;
    p.drawPolyline(QPolygonF() << QPointF(a, a + l) << QPointF(a, a) << QPointF(a + l, a));
    p.drawPolyline(QPolygonF() << QPointF(b - l, a) << QPointF(b, a) << QPointF(b, a + l));
    p.drawPolyline(QPolygonF() << QPointF(a, b - l) << QPointF(a, b) << QPointF(a + l, b));
    p.drawPolyline(QPolygonF() << QPointF(b - l, b) << QPointF(b, b) << QPointF(b, b - l));
}

void openDocument(QPainter& p)
{
    // A page with a folded corner and lines of text, a pen across it.
    QPolygonF page;
    page << QPointF(14, 10) << QPointF(42, 10) << QPointF(52, 20) << QPointF(52, 60) << QPointF(14, 60);
    p.setPen(line(3));
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(page);
    p.drawPolyline(QPolygonF() << QPointF(42, 10) << QPointF(42, 20) << QPointF(52, 20));
    p.setPen(line(2.5));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(21, 28 + i * 9), QPointF(44, 28 + i * 9));
    p.setPen(line(5));
    p.drawLine(QPointF(40, 56), QPointF(60, 36));
}

void pagesGlyph(QPainter& p)
{
    // A row of three small pages under a bar: the strip of pages.
    p.setPen(line(2.5));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i)
        p.drawRect(QRectF(10 + i * 18, 30, 14, 20));
    p.setBrush(INK);
    p.drawRect(QRectF(28, 30, 14, 20));
    p.setPen(line(3));
    p.drawLine(QPointF(10, 18), QPointF(60, 18));
}

void deletePageGlyph(QPainter& p)
{
    sheet(p, QRectF(16, 12, 38, 46));
    p.setPen(line(4.5));
    p.drawLine(QPointF(24, 35), QPointF(46, 35));
}

void duplicatePageGlyph(QPainter& p)
{
    p.setPen(line(3));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(12, 10, 30, 38));
    p.setBrush(QColor(0x1d, 0x2a, 0x30));
    p.drawRect(QRectF(26, 22, 30, 38));
    p.setPen(line(3.5));
    p.drawLine(QPointF(41, 32), QPointF(41, 50));
    p.drawLine(QPointF(32, 41), QPointF(50, 41));
}

void movePageGlyph(QPainter& p, bool earlier)
{
    p.save();
    if (!earlier) {
        p.translate(SIDE, 0);
        p.scale(-1, 1);
    }
    sheet(p, QRectF(32, 14, 26, 36));
    p.setPen(line(4));
    p.drawLine(QPointF(14, 56), QPointF(40, 56));
    arrowHead(p, QPointF(8, 56), QPointF(-1, 0));
    p.restore();
}

void handle(QPainter& p)
{
    // Three bars: the toolbar's own button (collapse, expand, drag).
    p.setPen(line(5));
    for (int i = 0; i < 3; ++i)
        p.drawLine(QPointF(18, 23 + i * 12), QPointF(52, 23 + i * 12));
}

// One button picture: a rounded square of the state's colour inset 4 pixels
// (the toolbar shows a selection in that margin), the glyph on top.
QImage button(int state, const Glyph& glyph)
{
    QImage img(SIDE, SIDE, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fills[3] = {QColor(0x1d, 0x2a, 0x30, 225), QColor(0x2f, 0x6f, 0x73, 240),
                             QColor(0x12, 0x4a, 0x4e, 255)};
    p.setPen(QPen(QColor(255, 255, 255, state == 0 ? 70 : 150), 1.5));
    p.setBrush(fills[state]);
    p.drawRoundedRect(QRectF(4.5, 4.5, SIDE - 9, SIDE - 9), 10, 10);
    if (state == 2)
        p.translate(1, 1);
    glyph(p);
    return img;
}

}  // namespace

bool makeToolbar(const QString& dir)
{
    std::vector<std::pair<QString, Glyph>> glyphs = {
        {"toolbar", handle},
        {"pen_soft", [](QPainter& p) { pen(p, true); }},
        {"pen_hard", [](QPainter& p) { pen(p, false); }},
        {"eraser_rect", rectEraser},
        {"eraser_free", freeEraser},
        {"undo", [](QPainter& p) { turnArrow(p, true); }},
        {"redo", [](QPainter& p) { turnArrow(p, false); }},
        {"clear", clearPage},
        {"page_new", newPageGlyph},
        {"page_prior", [](QPainter& p) { chevron(p, true); }},
        {"page_next", [](QPainter& p) { chevron(p, false); }},
        {"background", background},
        {"grid", [](QPainter& p) { gridGlyph(p, 3); }},
        {"grid_size", gridSize},
        {"save_png", savePng},
        {"save_pdf", savePdf},
        {"reopen", reopen},
        {"full_screen", fullScreen},
        {"open_document", openDocument},
        {"pages", pagesGlyph},
        {"page_delete", deletePageGlyph},
        {"page_duplicate", duplicatePageGlyph},
        {"page_earlier", [](QPainter& p) { movePageGlyph(p, true); }},
        {"page_later", [](QPainter& p) { movePageGlyph(p, false); }},
    };
    for (int i = 0; i < 6; ++i)
        glyphs.push_back({QString("colour_%1").arg(i), [i](QPainter& p) { colour(p, PALETTE[i]); }});
    for (int i = 0; i < 3; ++i)
        glyphs.push_back({QString("size_%1").arg(i), [i](QPainter& p) { size(p, SIZE_DOTS[i]); }});

    std::vector<ResourceEntry> e;
    bool ok = true;
    for (const auto& g : glyphs) {
        for (int state = 0; state < 3; ++state) {
            const QString file = QString("%1_%2.png").arg(g.first).arg(state);
            ok &= savePicture(button(state, g.second), dir + "/" + file);
            e.push_back({"toolbar/" + file, file});
        }
    }
    return ok && writeQrc(dir, "toolbar", e);
}
