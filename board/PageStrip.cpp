#include "PageStrip.h"

#include "BoardState.h"
#include "BoardWidget.h"
#include "PageThumbnailer.h"
#include "QImgBtn.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QScroller>
#include <QShowEvent>

const QSize PageStrip::THUMBNAIL(160, 100);
const int PageStrip::EDIT_DELAY_MS = 400;

namespace {

const int CELL = 70;  // button side, as on the toolbar
const int PAD = 4;

}  // namespace

PageStrip::PageStrip(BoardWidget* board, QWidget* parent)
    : QWidget(parent), board_(board), thumbnailer_(new PageThumbnailer(THUMBNAIL, this))
{
    setObjectName("PageStrip");
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);

    list_ = new QListWidget(this);
    list_->setObjectName("pages");
    list_->setViewMode(QListView::IconMode);
    list_->setFlow(QListView::LeftToRight);
    list_->setWrapping(false);
    list_->setMovement(QListView::Static);
    list_->setIconSize(THUMBNAIL);
    list_->setGridSize(THUMBNAIL + QSize(16, 28));
    list_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setStyleSheet("QListWidget { background: transparent; border: none; color: white; font-size: 15px; }"
                         " QListWidget::item:selected { background: transparent; }");
    // A finger (or the mouse) swipes the strip. The scroller takes the press
    // of a touch and may never hand it on, so a tap is told by its release:
    // a release that ended no swipe shows the page under it.
    QScroller::grabGesture(list_->viewport(), QScroller::LeftMouseButtonGesture);
    connect(QScroller::scroller(list_->viewport()), &QScroller::stateChanged, this, [this](QScroller::State state) {
        if (state == QScroller::Pressed)
            swiped_ = false;
        else if (state == QScroller::Dragging || state == QScroller::Scrolling)
            swiped_ = true;
    });
    list_->viewport()->installEventFilter(this);

    auto* grid = new QGridLayout();
    grid->setSpacing(2);
    const char* const names[4] = {"page_duplicate", "page_delete", "page_earlier", "page_later"};
    for (int i = 0; i < 4; ++i) {
        QAction* action = board_->action(names[i]);
        auto** pics = new QPixmap*[3];
        for (int state = 0; state < 3; ++state)
            pics[state] = new QPixmap(QString(":/toolbar/%1_%2.png").arg(names[i]).arg(state));
        pictures_.push_back(pics);
        auto* btn = new QImgBtn(this, pics);
        btn->setWindowFlags(Qt::Widget);
        btn->setObjectName(names[i]);
        btn->setFixedSize(CELL, CELL);
        btn->setStyleSheet("QPushButton { border: none; padding: 0px; background: transparent; }");
        btn->setFocusPolicy(Qt::NoFocus);
        if (action != nullptr) {
            btn->setToolTip(QString("%1 (%2)").arg(action->text(), action->shortcut().toString()));
            connect(btn, &QPushButton::clicked, action, &QAction::trigger);
        }
        grid->addWidget(btn, i / 2, i % 2);
        buttons_.push_back({names[i], btn});
    }
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(PAD, PAD, PAD, PAD);
    row->addWidget(list_, 1);
    row->addLayout(grid);

    editTimer_.setSingleShot(true);
    editTimer_.setInterval(EDIT_DELAY_MS);
    connect(&editTimer_, &QTimer::timeout, this, &PageStrip::renderDirty);
    connect(board_, &BoardWidget::pagesChanged, this, &PageStrip::rebuild);
    connect(board_, &BoardWidget::pageEdited, this, [this](int idx) {
        if (idx >= 0 && static_cast<size_t>(idx) < pages.size())
            dirty_.insert(pages[idx]);
        if (isVisible())
            editTimer_.start();
    });
    connect(thumbnailer_, &PageThumbnailer::ready, this, &PageStrip::backgroundReady);
    parent->installEventFilter(this);
    setFixedHeight(2 * CELL + 2 + 2 * PAD + 4);
    hide();
    rebuild();
}

PageStrip::~PageStrip()
{
    // The buttons go before their pictures.
    for (auto& b : buttons_)
        delete b.second;
    for (QPixmap** pics : pictures_) {
        for (int state = 0; state < 3; ++state)
            delete pics[state];
        delete[] pics;
    }
}

QString PageStrip::key(const QString& file, int page)
{
    return QString("%1#%2").arg(page).arg(file);
}

QImgBtn* PageStrip::button(const QString& name) const
{
    for (const auto& b : buttons_)
        if (b.first == name)
            return b.second;
    return nullptr;
}

QImage PageStrip::thumbnail(int idx) const
{
    if (idx < 0 || static_cast<size_t>(idx) >= pages.size())
        return QImage();
    return thumbnails_.value(pages[idx]);
}

int PageStrip::pendingBackgrounds() const
{
    return thumbnailer_->pending();
}

bool PageStrip::editsPending() const
{
    return editTimer_.isActive() || (!dirty_.isEmpty() && isVisible());
}

void PageStrip::rebuild()
{
    // Thumbnails of pages that are gone are forgotten.
    QSet<const Page*> present;
    for (const Page* p : pages)
        present.insert(p);
    for (auto it = thumbnails_.begin(); it != thumbnails_.end();)
        it = present.contains(it.key()) ? std::next(it) : thumbnails_.erase(it);
    dirty_.intersect(present);
    for (const Page* p : pages)
        if (!thumbnails_.contains(p))
            dirty_.insert(p);

    const QSignalBlocker block(list_);
    while (list_->count() > static_cast<int>(pages.size()))
        delete list_->takeItem(list_->count() - 1);
    while (list_->count() < static_cast<int>(pages.size()))
        list_->addItem(new QListWidgetItem());
    for (int i = 0; i < list_->count(); ++i) {
        QListWidgetItem* item = list_->item(i);
        item->setText(QString::number(i + 1));
        item->setTextAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        setIcon(i);
    }
    list_->clearSelection();
    if (pageIdx >= 0 && pageIdx < list_->count()) {
        list_->setCurrentRow(pageIdx);
        list_->item(pageIdx)->setSelected(true);
        list_->scrollToItem(list_->item(pageIdx));
    }
    if (isVisible())
        renderDirty();
}

void PageStrip::renderDirty()
{
    if (!isVisible())
        return;
    for (int i = 0; i < static_cast<int>(pages.size()); ++i)
        if (dirty_.contains(pages[i]))
            render(i);
}

void PageStrip::render(int idx)
{
    const Page* pg = pages[idx];
    QImage background;
    QSize pageSize;
    if (pg->bkgType == BT_IMG && !pg->bkgFile.isEmpty()) {
        const QString k = key(pg->bkgFile, pg->bkgPage);
        if (!backgrounds_.contains(k)) {
            // Drawn when its background comes back.
            thumbnailer_->request(pg->bkgFile, pg->bkgPage);
            return;
        }
        background = backgrounds_[k].image;
        pageSize = backgrounds_[k].pageSize;
    }
    dirty_.remove(pg);
    const QImage thumb = board_->renderThumbnail(idx, THUMBNAIL, background, pageSize);
    thumbnails_[pg] = thumb;
    setIcon(idx);
}

// The thumbnail as the strip shows it: the current page framed in the
// toolbar's amber.
void PageStrip::setIcon(int idx)
{
    if (idx < 0 || idx >= list_->count() || static_cast<size_t>(idx) >= pages.size())
        return;
    const QImage thumb = thumbnails_.value(pages[idx]);
    if (thumb.isNull()) {
        list_->item(idx)->setIcon(QIcon());
        return;
    }
    QPixmap pm = QPixmap::fromImage(thumb);
    if (idx == pageIdx) {
        QPainter p(&pm);
        p.setPen(QPen(QColor(0xf2, 0xb1, 0x34), 6));
        p.drawRect(QRectF(pm.rect()).adjusted(3, 3, -3, -3));
    }
    list_->item(idx)->setIcon(QIcon(pm));
}

void PageStrip::backgroundReady(const QString& file, int page, const QImage& image, const QSize& pageSize)
{
    backgrounds_[key(file, page)] = {image, pageSize};
    for (int i = 0; i < static_cast<int>(pages.size()); ++i)
        if (pages[i]->bkgFile == file && pages[i]->bkgPage == page && dirty_.contains(pages[i]) && isVisible())
            render(i);
}

void PageStrip::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    placeOverBoard();
    raise();
    renderDirty();
}

bool PageStrip::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize) {
        placeOverBoard();
    } else if (watched == list_->viewport() && event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        const bool tap = !swiped_;
        swiped_ = false;
        // By the items' own rectangles: after a scroll by the scroller the
        // list view's indexAt() does not find them.
        const QPoint at = static_cast<QMouseEvent*>(event)->pos();
        for (int i = 0; tap && i < list_->count(); ++i)
            if (list_->visualItemRect(list_->item(i)).contains(at)) {
                board_->goToPage(i);
                break;
            }
    }
    return QWidget::eventFilter(watched, event);
}

void PageStrip::placeOverBoard()
{
    QWidget* p = parentWidget();
    setGeometry(0, p->height() - height(), p->width(), height());
}

void PageStrip::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(0, 0, 0, 150));
}
