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
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <vector>

#include <functional>

class BoardActions;
class BoardSaver;
class QAction;
class QPaintEvent;
class QResizeEvent;
class QUndoStack;

// The whiteboard's drawing surface: turns pen input into strokes on the
// current page, renders pages into two view-sized layers (window layer with
// background and grid, stroke layer with the ink) and composes them on screen.
// Every change of the board's content (a stroke, an erasure, a clear, a page
// added, deleted, duplicated or moved, a background or grid) is a command on
// the board's QUndoStack; every operation a user can reach is a QAction of
// the board that carries its shortcut (BoardActions), so that keys, the
// toolbar and gestures take one road. All operations run on the GUI thread.
class BoardWidget : public QWidget {
    Q_OBJECT

public:
    explicit BoardWidget(QWidget* parent = nullptr);
    ~BoardWidget() override;

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
    // index outside the page list. A picture or document page is exported at
    // its background's size; a colour page takes in all of its ink with a
    // margin, wherever it lies (at least the view's size, at most MAX_WIDTH x
    // MAX_HEIGHT, scaled down to fit).
    QPixmap* savePageToPixmap(int idx);
    // The page area that savePageToPixmap(idx) exports, in page units, and
    // the scale of the export.
    QRectF exportArea(int idx, float* scale);
    // Page idx drawn small (background and ink) into an image of at most
    // box. background is the page's picture or document page drawn small
    // and pageSize its size in page units (null and empty for a colour page,
    // or while it is not ready: then the page's colour is drawn).
    QImage renderThumbnail(int idx, const QSize& box, const QImage& background, const QSize& pageSize);

    // Reuses an empty last page (no ink, no picture) or appends one, an
    // undoable step unless it is the board's first page; then shows the
    // last page.
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
    // A key that reaches the board without having been taken as a shortcut
    // (its window not active, or sent to the board directly) triggers the
    // action whose shortcut it is.
    void keyPressEvent(QKeyEvent* event) override;

public:
    // Damps the view transform's overshoot past the page extent.
    void dragLimit();
    // Starts the spring-back when the view is outside its limits; true if it did.
    bool dragReset();
    // Spring-back to the given transform: applied and rendered at once, then
    // five repaints 67 ms apart timed on the GUI thread.
    void doReset(float TagRate, float XLimit, float YLimit);

    // Navigation (not undoable: it changes what is shown, not the board).
    void priorPage();
    void nextPage();
    void goToPage(int idx);
    // Undoable operations on the current page or the page list: each ends a
    // running stroke first and pushes its command.
    void setBkgType(BkgType type);
    void setGridType(int gridType);
    void setGridSize(int gridSize);
    void clear();
    // Deletes the current page (not the only one); false when there is one.
    bool deletePage();
    // A copy of the current page (background, grid, ink) after it, shown.
    void duplicatePage();
    // Moves the current page by delta places (-1 earlier, 1 later); false
    // (and nothing moves) when that is past either end of the list.
    bool movePage(int delta);
    // Undoes or redoes the last command (after ending a running stroke); a
    // command of another page shows that page first.
    void undo();
    void redo();
    QUndoStack* undoStack() const;
    // The board's action of the given name ("undo", "tool_pen", ...; see
    // BoardActions), or null.
    QAction* action(const QString& name) const;

    // Tools and pens (the actions' effects). Switching the tool ends a
    // running stroke.
    void setTool(EraserStatus tool);
    void setPenModel(int model);
    void setPenColour(int idx);
    // B: green -> black -> white -> green; G: none -> field -> lines; Shift+G:
    // small -> medium -> large.
    void cycleBackground();
    void cycleGrid();
    void cycleGridSize();
    void toggleFullScreen();

    // Writes the current page (as savePageToPixmap renders it) into the
    // board folder (BoardFolder) as "board-<yyyyMMdd-HHmmss-zzz>.png" and
    // prints "SavePage: <path>". Returns the path, empty when nothing was
    // written (then boardMessage says why).
    QString savePage();

    // Board files, documents and the PDF of all pages.
    // Saving as one draws into "board-<stamp>.tvboard" in the board folder,
    // from the next change on; off by default.
    void setAutosave(bool on);
    BoardSaver* saver() const;
    // How the board asks the user before it drops a board that could not be
    // saved: question(text) returns true when the user agrees. Without one
    // the answer is no. The board window asks with a message box.
    void setDropQuestion(std::function<bool(const QString& text)> question);
    // Replaces the board with the one in the file. A file that cannot be
    // read (missing, foreign, damaged, newer) gives boardMessage and an
    // empty board; the file itself is never written. What was on the board
    // is on disk first: when it cannot be saved, the user is asked, and
    // without a yes nothing changes (false). Saving goes on into a new file.
    bool openBoard(const QString& path);
    // A PDF (each page a board page with that page as its picture
    // background) or a picture (one such page) to write on, replacing the
    // board as openBoard does; the board file refers to the document. A file
    // that is neither gives boardMessage and leaves the board as it is.
    bool openDocument(const QString& path);
    // openBoard for a board file, openDocument for anything else.
    bool openFile(const QString& path);
    // openBoard of the most recently saved board of the board folder other
    // than the one this board is saving into; a message when there is none.
    bool openRecentBoard();
    // Asks the window for a PDF or picture to open (documentWanted).
    void askForDocument();
    // Writes every page into "board-<yyyyMMdd-HHmmss-zzz>.pdf" in the board
    // folder, each page of the size savePageToPixmap gives it, the ink as
    // vector paths over the background, and prints "SavePdf: <path>".
    // Returns the path, empty when nothing was written (boardMessage).
    QString savePdf();

    // For the undo commands: what they change is shown and saved.
    // Loads pg unless it is the current page already (its view resets only
    // then).
    void makeCurrent(Page* pg);
    // makeCurrent, then re-renders and tells the saver and the page strip.
    void showChanged(Page* pg);
    // The page list changed: pg is at index idx now and shown.
    void showPageAt(int idx);
    // Applies a background type to pg (a picture page keeps its file) and
    // the type new pages get.
    void applyBackground(Page* pg, BkgType pageType, BkgType newPageType);
    void applyGrid(Page* pg, int gridType, int gridSize);

signals:
    // A text for the user (a file that could not be opened or written).
    void boardMessage(const QString& text);
    // Saving fails (text says why; it is tried again) / works again.
    void saveTrouble(const QString& text);
    void saveRecovered();
    // The page list or the current page changed.
    void pagesChanged();
    // The content of page idx changed (ink, background, grid).
    void pageEdited(int idx);
    // The user asked to open a PDF or picture (askForDocument).
    void documentWanted();
    // A PDF or picture of that many pages is on the board now.
    void documentOpened(int pages);

private:
    // A pen-up or page operation: the saver (if on) schedules a save.
    void boardChanged();
    // Puts the running stroke, if any, on the undo stack (StrokeCommand or
    // EraseCommand) and forgets it as the live stroke.
    void commitStroke();
    // Starts st (already on the current page) as the live stroke; a live
    // stroke that was still running is committed first.
    void beginStroke(Stroke* st);
    // True when the board may be replaced: it is on disk (or not saved at
    // all), or the user agreed to lose it. what names what would replace it.
    bool mayDropBoard(const QString& what);
    // Replaces the pages with these (none: one empty page), the undo
    // history with nothing, and saving with a new file.
    void replaceBoard(std::vector<Page*> newPages, int idx, BkgType newType);
    // Loads the current page's background (picture or document page).
    void loadBackground();

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
    QUndoStack* undoStack_;         // child object
    BoardActions* actions_;         // child object
    std::function<bool(const QString&)> dropQuestion_;
    QStringList opened_;  // board files opened in this session: never pruned
};

// Spring-back tasks started and not yet through their last repaint.
int runningSpringBacks();

#endif
