#ifndef TAVLO_BENCHPDF_H
#define TAVLO_BENCHPDF_H

// A lesson's PDF for the whiteboard benchmarks, made with Qt's PDF writer:
// 16:9 slides with a title, a dozen lines of text, a diagram of shapes and,
// on every fourth slide, a photograph (noise, 800 x 600), as a teacher's
// slides have them. The same file in every run.

#include <QColor>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QString>
#include <random>

namespace benchpdf {

inline bool lesson(const QString& path, int pages)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageLayout(QPageLayout(QPageSize(QSizeF(720, 405), QPageSize::Point, QString(), QPageSize::ExactMatch),
                                     QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    std::mt19937 rng(3);
    QImage photo(800, 600, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb((x / 3 + rng() % 40) & 255, (y / 3 + rng() % 40) & 255, (rng() % 80 + 100)));
    QPainter p;
    for (int i = 0; i < pages; ++i) {
        if (i == 0 ? !p.begin(&writer) : !writer.newPage())
            return false;
        p.fillRect(QRectF(0, 0, 720, 405), QColor(250, 248, 240));
        QFont title = p.font();
        title.setPointSize(26);
        title.setBold(true);
        p.setFont(title);
        p.setPen(QColor(20, 40, 90));
        p.drawText(QRectF(30, 20, 660, 40), QString("Lesson %1: fractions and ratios").arg(i + 1));
        QFont body = p.font();
        body.setPointSize(12);
        body.setBold(false);
        p.setFont(body);
        p.setPen(Qt::black);
        for (int l = 0; l < 12; ++l)
            p.drawText(QPointF(40, 90 + l * 22),
                       QString("%1. A ratio compares two quantities; %2 : %3 is the same as %4 : %5.")
                           .arg(l + 1)
                           .arg(l + 2)
                           .arg(l + 3)
                           .arg(2 * (l + 2))
                           .arg(2 * (l + 3)));
        p.setPen(QPen(QColor(200, 60, 30), 3));
        p.setBrush(QColor(240, 200, 120));
        p.drawEllipse(QRectF(520, 100, 150, 150));
        p.drawPie(QRectF(520, 100, 150, 150), 0, 16 * 120);
        p.drawRect(QRectF(530, 280, 40, 80));
        p.drawRect(QRectF(580, 300, 40, 60));
        if (i % 4 == 3)
            p.drawImage(QRectF(420, 200, 280, 190), photo);
    }
    return p.end();
}

}  // namespace benchpdf

#endif
