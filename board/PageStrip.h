#ifndef TAVLO_PAGESTRIP_H
#define TAVLO_PAGESTRIP_H

#include <QImage>
#include <QMap>
#include <QSet>
#include <QSize>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

class BoardWidget;
class Page;
class PageThumbnailer;
class QImgBtn;
class QListWidget;
class QListWidgetItem;

// The strip of page thumbnails along the bottom of the board window, for
// touch: one thumbnail per page (background and ink), the current page
// selected; a tap on a thumbnail shows that page, a swipe scrolls the strip
// (QScroller), and four buttons beside it duplicate, delete and move the
// current page (the board's actions, so each is one undoable step). The
// thumbnails follow the board: the page list and the current page at once,
// a page's ink a moment after it changed (only while the strip is shown).
// Backgrounds of picture and document pages are made small by a
// PageThumbnailer off the GUI thread. GUI thread.
class PageStrip : public QWidget {
    Q_OBJECT

public:
    static const QSize THUMBNAIL;  // box of a thumbnail, 160 x 100
    static const int EDIT_DELAY_MS;  // from a change of ink to its thumbnail

    PageStrip(BoardWidget* board, QWidget* parent);
    ~PageStrip() override;

    QListWidget* list() const { return list_; }
    // "page_duplicate", "page_delete", "page_earlier", "page_later".
    QImgBtn* button(const QString& name) const;
    // The thumbnail shown for page idx (null when there is none).
    QImage thumbnail(int idx) const;
    // Backgrounds still being made small.
    int pendingBackgrounds() const;
    // Thumbnails waiting for EDIT_DELAY_MS.
    bool editsPending() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    // The items for the board's pages and the selection (pagesChanged).
    void rebuild();
    // Thumbnails of pages marked as changed, drawn anew.
    void renderDirty();
    void render(int idx);
    void setIcon(int idx);
    void placeOverBoard();
    void backgroundReady(const QString& file, int page, const QImage& image, const QSize& pageSize);
    static QString key(const QString& file, int page);

    struct Background {
        QImage image;
        QSize pageSize;
    };

    BoardWidget* board_;
    QListWidget* list_;
    std::vector<std::pair<QString, QImgBtn*>> buttons_;
    std::vector<QPixmap**> pictures_;  // the buttons' pictures, owned
    PageThumbnailer* thumbnailer_;
    QMap<QString, Background> backgrounds_;  // by key(file, page)
    QMap<const Page*, QImage> thumbnails_;
    QSet<const Page*> dirty_;
    QTimer editTimer_;
    bool swiped_ = false;  // the strip scrolled since the last press
};

#endif
