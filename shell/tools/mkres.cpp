// Draws the program's compiled-in pictures and writes the .qrc file of one
// resource group. Run at build time: tavlo-mkres <group> <output-dir>.
// Groups: "icons" (program icon, start-up picture, close buttons, the four
// button SVGs) and "i18n" (the empty translation catalogue). "desktop" is no
// resource group: it draws the icons that the installed desktop entries name,
// <output-dir>/<N>x<N>/tavlo.png and tavlo-console.png.
#include "ResourceFiles.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// The program icon: a rounded slate board with two overlapping screens. The
// console's icon (classroom) has the classroom's four screens instead, the
// teacher's first.
QImage drawIcon(int side, bool classroom = false)
{
    QImage img(side, side, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = side;
    QLinearGradient g(0, 0, 0, s);
    g.setColorAt(0, QColor(0x2f, 0x6f, 0x73));
    g.setColorAt(1, QColor(0x1d, 0x3f, 0x44));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.18, s * 0.18);
    if (classroom) {
        for (int i = 0; i < 4; ++i) {
            p.setBrush(i == 0 ? QColor(0xf2, 0xb1, 0x34) : QColor(255, 255, 255, 235));
            p.drawRoundedRect(QRectF(s * (0.17 + 0.35 * (i % 2)), s * (0.22 + 0.3 * (i / 2)), s * 0.3, s * 0.24),
                              s * 0.03, s * 0.03);
        }
        return img;
    }
    p.setBrush(QColor(255, 255, 255, 235));
    p.drawRoundedRect(QRectF(s * 0.16, s * 0.22, s * 0.46, s * 0.34), s * 0.04, s * 0.04);
    p.setBrush(QColor(0xf2, 0xb1, 0x34));
    p.drawRoundedRect(QRectF(s * 0.38, s * 0.42, s * 0.46, s * 0.34), s * 0.04, s * 0.04);
    p.setPen(QPen(QColor(0x1d, 0x3f, 0x44), qMax(1.0, s * 0.05), Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(s * 0.48, s * 0.59), QPointF(s * 0.74, s * 0.59));
    return img;
}

// The start-up picture: a calm gradient with the icon's motif and a stylised
// "T" drawn from rectangles, so that no font is needed.
QImage drawSplash()
{
    const int w = 1440, h = 810;
    QImage img(w, h, QImage::Format_ARGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, w, h);
    g.setColorAt(0, QColor(0x1d, 0x3f, 0x44));
    g.setColorAt(1, QColor(0x27, 0x41, 0x43).darker(140));
    p.fillRect(img.rect(), g);
    QRadialGradient glow(w * 0.7, h * 0.35, h * 0.8);
    glow.setColorAt(0, QColor(255, 255, 255, 40));
    glow.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(img.rect(), glow);
    p.drawImage(QRect(w / 2 - 150, h / 2 - 230, 300, 300), drawIcon(300));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 230));
    // A row of small screens along the bottom: the groups of a classroom.
    for (int i = 0; i < 6; ++i) {
        QRectF r(w / 2 - 330 + i * 115, h / 2 + 150, 90, 56);
        p.setBrush(i == 2 ? QColor(0xf2, 0xb1, 0x34) : QColor(255, 255, 255, 200));
        p.drawRoundedRect(r, 8, 8);
    }
    return img;
}

// Close button: a circle with a cross; state 0 normal, 1 hover, 2 pressed.
QImage drawClose(int state)
{
    const int side = 70;
    QImage img(side, side, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor fills[3] = {QColor(0, 0, 0, 110), QColor(0xd9, 0x3b, 0x3b, 220), QColor(0x9e, 0x22, 0x22, 255)};
    p.setPen(Qt::NoPen);
    p.setBrush(fills[state]);
    p.drawEllipse(QRectF(3, 3, side - 6, side - 6));
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(24, 24), QPointF(46, 46));
    p.drawLine(QPointF(46, 24), QPointF(24, 46));
    return img;
}

QString boardSvg(const char* fill)
{
    return QString("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">"
                   "<rect x=\"6\" y=\"10\" width=\"52\" height=\"36\" rx=\"4\" fill=\"%1\"/>"
                   "<path d=\"M16 36 C24 22 30 40 38 26 S48 30 50 24\" stroke=\"#ffffff\" stroke-width=\"3\" fill=\"none\"/>"
                   "<rect x=\"28\" y=\"46\" width=\"8\" height=\"10\" fill=\"%1\"/></svg>\n").arg(fill);
}

QString screensSvg(const char* fill)
{
    return QString("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" viewBox=\"0 0 64 64\">"
                   "<rect x=\"4\" y=\"8\" width=\"30\" height=\"22\" rx=\"3\" fill=\"%1\"/>"
                   "<rect x=\"30\" y=\"26\" width=\"30\" height=\"22\" rx=\"3\" fill=\"%1\" opacity=\"0.75\"/>"
                   "<rect x=\"12\" y=\"52\" width=\"40\" height=\"4\" rx=\"2\" fill=\"%1\"/></svg>\n").arg(fill);
}

bool writeText(const QString& path, const QString& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(text.toUtf8());
    return true;
}

bool makeIcons(const QString& dir)
{
    std::vector<ResourceEntry> e;
    bool ok = true;
    ok &= savePicture(drawIcon(64), dir + "/Tavlo_Icon.ico", "ico");
    e.push_back({"Tavlo_Icon.ico", "Tavlo_Icon.ico"});
    ok &= savePicture(drawSplash(), dir + "/splash.png", "png");
    e.push_back({QString::fromUtf8("res/启动页面.png"), "splash.png"});
    const char* names[3] = {"关闭_默认.png", "关闭_经过.png", "关闭_点击.png"};
    for (int i = 0; i < 3; ++i) {
        QString file = QString("close_%1.png").arg(i);
        ok &= savePicture(drawClose(i), dir + "/" + file, "png");
        e.push_back({QString::fromUtf8("右上/") + QString::fromUtf8(names[i]), file});
    }
    const std::pair<const char*, QString> svgs[4] = {
        {"黑板.svg", boardSvg("#cfd8dc")},
        {"黑板-经过.svg", boardSvg("#f2b134")},
        {"多屏控制.svg", screensSvg("#cfd8dc")},
        {"多屏控制-经过.svg", screensSvg("#f2b134")},
    };
    for (int i = 0; i < 4; ++i) {
        QString file = QString("button_%1.svg").arg(i);
        ok &= writeText(dir + "/" + file, svgs[i].second);
        e.push_back({QString::fromUtf8("res/") + QString::fromUtf8(svgs[i].first), file});
    }
    return ok && writeQrc(dir, "icons", e);
}

// An empty Qt translation catalogue is just the 16-byte magic number.
bool makeI18n(const QString& dir)
{
    static const unsigned char magic[16] = {0x3c, 0xb8, 0x64, 0x18, 0xca, 0xef, 0x9c, 0x95,
                                            0xcd, 0x21, 0x1c, 0xbf, 0x60, 0xa1, 0xbd, 0xdd};
    QFile f(dir + "/Tavlo_zh_CN.qm");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    f.write(reinterpret_cast<const char*>(magic), sizeof magic);
    f.close();
    return writeQrc(dir, "i18n", {{"i18n/Tavlo_zh_CN.qm", "Tavlo_zh_CN.qm"}});
}

// The desktop entries' icons, in the sizes of the icon theme's folders.
bool makeDesktopIcons(const QString& dir)
{
    bool ok = true;
    for (int side : {48, 64, 128, 256}) {
        const QString sub = QString("%1/%2x%2").arg(dir).arg(side);
        ok &= QDir().mkpath(sub);
        ok &= savePicture(drawIcon(side), sub + "/tavlo.png", "png");
        ok &= savePicture(drawIcon(side, true), sub + "/tavlo-console.png", "png");
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: tavlo-mkres icons|i18n|desktop OUTPUT-DIR\n");
        return 2;
    }
    const QString group = QString::fromLocal8Bit(argv[1]);
    const QString dir = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(dir);
    bool ok = false;
    if (group == "icons")
        ok = makeIcons(dir);
    else if (group == "i18n")
        ok = makeI18n(dir);
    else if (group == "desktop")
        ok = makeDesktopIcons(dir);
    else
        std::fprintf(stderr, "tavlo-mkres: unknown group %s\n", argv[1]);
    return ok ? 0 : 1;
}
