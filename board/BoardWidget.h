#ifndef TAVLO_BOARDWIDGET_H
#define TAVLO_BOARDWIDGET_H

#include "BoardState.h"
#include "Page.h"
#include "Segment.h"
#include "Stroke.h"
#include "StrokePoint.h"

#include <QBrush>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

class BoardSaver;
class QPaintEvent;
class QResizeEvent;

// The whiteboard's drawing surface: turns pen input into strokes on the
// current page, renders pages into two view-sized layers (window layer with
// background and grid, stroke layer with the ink) and composes them on screen.
// All operations run on the GUI thread.
class BoardWidget : public QWidget {
    Q_OBJECT

public:
    explicit BoardWidget(QWidget* parent = nullptr);

    // Pen input, view coordinates, times in ms of Utils::clocktime(ms).
    void penDown(float x, float y, long time);
    void penMove(float X, float Y, long time);
    void penUp(float X, float Y, long time);
    // penMove followed by a repaint of only what the move changed on screen:
    // the live feedback before and after it (the whole widget while the view
    // differs from the window transform).
    void penMoveAndRepaint(float X, float Y, long time);
    // Draws the page's last (pen) stroke once onto the stroke layer; called
    // when a pen stroke ends.
    void finishPenStroke();
    // Chooses the pen size for new strokes: 0, 1 or 2 (index into SIZES).
    void setPaintThickness(int idx);

    // Page point to the view of the transform (ox, oy, scale); the Limit form
    // clamps the result into [0, width] x [0, height].
    QPointF toPoint(QPointF src, float ox, float oy, float scale);
    QPointF toPointLimit(QPointF src, float ox, float oy, float scale, int width, int height);
    // Grows limitRect to take in point (floor for left/top, ceil for right/bottom).
    void updateLimit(QRect& limitRect, QPointF point);

    // Renderers. A page point p lands at ((p.x - ox) * scale, (p.y - oy) * scale).
    void drawStroke(QPainter* canvas, Stroke* stroke, float ox, float oy, float scale, bool track);
    void drawPenHard(QPainter* canvas, Segment* segment, float strokeWidth, int colorIdx, float ox, float oy,
                     float scale);
    void drawPenSoft(QPainter* canvas, Segment* segment, float strokeWidth, int colorIdx, float& priorWidth,
                     bool isLast, float ox, float oy, float scale);
    void drawLine(QPainter* canvas, int colorIdx, StrokePoint* start, StrokePoint* end, float size, float ox,
                  float oy, float scale);
    void drawRectEraser(QPainter* canvas, StrokePoint* sp, float ox, float oy, float scale);
    void drawTrapEraser(QPainter* canvas, Segment* segment, bool track, float ox, float oy, float scale);
    static int signum(int val);

    // Re-renders both layers for the current page at the view transform and
    // makes that the window transform.
    void drawWin();
    // Composes the layers onto canvas (moved and scaled while the view
    // transform differs from the window transform) and draws the live
    // feedback of the running gesture.
    void paint(QPainter* canvas);
    // The same for the area of the widget given (a repaint of part of it);
    // the caller clips the canvas to it.
    void paint(QPainter* canvas, const QRect& area);
    // The view rectangle that the live feedback of the running stroke or
    // eraser covers in paint, empty when there is none.
    QRect liveRect();
    // Renders page idx into a new bitmap owned by the caller; null for an
    // index outside the page list.
    QPixmap* savePageToPixmap(int idx);

    // Reuses an empty last page or appends one, then shows the last page.
    void newPage(QString ABkgFile, bool APageable);
    // Shows page Idx; throws std::runtime_error for an index out of range.
    void loadPage(unsigned int Idx);
    // Fills the dot table from the resources, tinting one row per colour.
    void loadDot();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

    // ===================================================================
    // Gestures, elastic view, page operations and shortcuts
    // ===================================================================
    // Touch and mouse gestures (GUI thread): one finger or the left button
    // draws, two close fingers, three fingers or the right button pan, two
    // fingers that start apart zoom, four or more fingers erase.
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // Keyboard shortcuts of the board (tools, pen, colours, sizes, pages,
    // background, grid, undo, clear, save, full screen).
    void keyPressEvent(QKeyEvent* event) override;

public:
    // Damps the view transform's overshoot past the page extent.
    void dragLimit();
    // Starts the spring-back when the view is outside its limits; true if it did.
    bool dragReset();
    // Spring-back to the given transform: applied and rendered at once, then
    // five repaints 67 ms apart timed on the GUI thread.
    void doReset(float TagRate, float XLimit, float YLimit);

    // Page operations on the current page (GUI thread).
    void priorPage();
    void nextPage();
    void setBkgType(BkgType type);
    void setGridType(int gridType);
    void setGridSize(int gridSize);
    void undo();
    void clear();
    // Writes the current page (as savePageToPixmap renders it) into the
    // working directory as "board-<yyyyMMdd-HHmmss-zzz>.png" and prints
    // "SavePage: <path>". Returns the path, empty when nothing was written.
    QString savePage();

    // Board files and the PDF of all pages (GUI thread).
    // Saving as one draws into "board-<stamp>.tvboard" in the working
    // directory, from the next change on; off by default.
    void setAutosave(bool on);
    BoardSaver* saver() const;
    // Replaces the board with the one in the file. A file that cannot be
    // read (missing, foreign, damaged, newer) gives boardMessage and an
    // empty board; the file itself is never written. Either way what was on
    // the board is on disk first, and saving goes on into a new file.
    bool openBoard(const QString& path);
    // openBoard of the most recently saved board of the working directory
    // other than the one this board is saving into; a message when there
    // is none.
    bool openRecentBoard();
    // Brings back the stroke the last undo took off the current page.
    void redo();
    // Writes every page, each as savePageToPixmap renders it, into
    // "board-<yyyyMMdd-HHmmss-zzz>.pdf" in the working directory and prints
    // "SavePdf: <path>". Returns the path, empty when nothing was written.
    QString savePdf();

signals:
    // A text for the user (a file that could not be opened).
    void boardMessage(const QString& text);

private:
    // A pen-up or page operation: the saver (if on) schedules a save.
    void boardChanged();

    // A touch sequence that the system took away: the running gesture ends.
    void cancelTouch();
    // Ends a running pen stroke or gesture before a page changes under it.
    void endGesture();
    // Ends a running stroke as its pen-up would show it (pen stroke onto the
    // stroke layer, free-form eraser applied), then the gesture.
    void endStroke();
    // Clears one rectangle-eraser sample on the stroke layer at once.
    void clearOnStrokeLayer(StrokePoint* sp);

    BoardSaver* saver_ = nullptr;  // child object, null while saving is off
};

// Spring-back tasks started and not yet through their last repaint.
int runningSpringBacks();

#endif
