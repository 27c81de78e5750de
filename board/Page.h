#ifndef TAVLO_PAGE_H
#define TAVLO_PAGE_H

#include "Stroke.h"

#include <QPointF>
#include <QString>
#include <vector>

enum BkgType {
    BT_GREEN = 0,
    BT_BLACK = 1,
    BT_WHITE = 2,
    BT_IMG = 3,  // the image file named by bkgFile
};

// One whiteboard sheet: its strokes in drawing order (owned), background,
// grid and the bounding box of its pen ink.
class Page {
public:
    Page(QString bkgFile, BkgType bkgType, int gridType, int gridSize);
    ~Page();

    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;

    // A picture file: a non-empty name makes the page an image page; an
    // empty one keeps the type.
    void setBkg(QString bkgFile);
    void setBkgType(BkgType type);
    BkgType getBkgType() const;

    // The last stroke, or null on an empty page.
    Stroke* getLastStork() const;

    // Widens the ink box by one page point (coordinates truncated toward zero).
    void updateMaxPoint(QPointF p);
    // Recomputes the ink box from all pen strokes (erasers are skipped).
    void updateMaxPoint();

    std::vector<Stroke*> strokes;  // owned, drawing order, erasers included
    QString bkgFile;
    // The page of the PDF document bkgFile that is the background (0 is the
    // first), or -1 when bkgFile is a picture.
    int bkgPage = -1;
    BkgType bkgType;
    int gridType;  // 0 none, 1 field grid, other positive: line grid
    int gridSize;  // 0 small, 1 medium, 2 large
    QPointF minPoint;
    QPointF maxPoint;
};

#endif
