#include "BoardWidget.h"

#include "AddPageCommand.h"
#include "BackgroundCache.h"
#include "BackgroundCommand.h"
#include "BoardFile.h"
#include "BoardPrivate.h"
#include "ClearCommand.h"
#include "DeletePageCommand.h"
#include "GridCommand.h"
#include "MovePageCommand.h"
#include "Utils.h"

#include <QImage>
#include <QSizeF>
#include <QUndoStack>
#include <algorithm>
#include <memory>
#include <stdexcept>

// ---------------------------------------------------------------------------
// Pages and image tables
// ---------------------------------------------------------------------------

// The colour fill of a page: its own type, or, for an image page whose image
// is not available, the board's type for new pages (green if that is an
// image type too).
BkgType colourType(const Page* pg)
{
    if (pg == nullptr)
        return bkgType == BT_IMG ? BT_GREEN : bkgType;
    if (pg->bkgType != BT_IMG)
        return pg->bkgType;
    return bkgType == BT_IMG ? BT_GREEN : bkgType;
}

namespace {

// Rate of the view at which a w x h image fills the view, and the centred
// top-left page point.
void fitImage(int bw, int bh, float& rate, float& left, float& top)
{
    QSizeF fitted(bw, bh);
    Utils::scaleInSize(fitted, QSizeF(VIEW_WIDTH, VIEW_HEIGHT));
    rate = static_cast<float>(fitted.width() / bw);
    left = (bw - VIEW_WIDTH / rate) / 2;
    top = (bh - VIEW_HEIGHT / rate) / 2;
}

}  // namespace

void applyImageFit()
{
    float rate, left, top;
    fitImage(bkgBmp->width(), bkgBmp->height(), rate, left, top);
    xRate = winRate = rate;
    xLeft = winLeft = left;
    xTop = winTop = top;
}

void BoardWidget::newPage(QString ABkgFile, bool APageable)
{
    pageable = APageable;
    commitStroke();
    // An empty last page is reused: one without ink or a picture (a page of
    // a document is never empty).
    if (pageIdx >= 0 && !pages.empty() && pages.back()->strokes.empty() && pages.back()->bkgFile.isEmpty()) {
        Page* last = pages.back();
        last->setBkg(ABkgFile);
        // Reused without an image it is a colour page.
        if (ABkgFile.isEmpty() && last->bkgType == BT_IMG && bkgType != BT_IMG)
            last->setBkgType(bkgType);
        loadPage(static_cast<unsigned int>(pages.size() - 1));
        return;
    }
    Page* fresh = new Page(ABkgFile, bkgType, gridTypeIdx, gridSizeIdx);
    if (pages.empty()) {
        // The board's first page: there is no board without one, so it is
        // no step to undo.
        pages.push_back(fresh);
        loadPage(0);
        emit pagesChanged();
        return;
    }
    undoStack_->push(new AddPageCommand(this, static_cast<int>(pages.size()), fresh, tr("New page")));
}

void BoardWidget::loadPage(unsigned int Idx)
{
    if (Idx >= pages.size())
        throw std::runtime_error("指定的批注或黑板不存在");
    page = pages[Idx];
    pageIdx = static_cast<int>(Idx);
    loadBackground();
    const BkgType shown = bkgBmp != nullptr ? BT_IMG : colourType(page);
    penColorIdx = (shown == BT_IMG || shown == BT_WHITE) ? 0 : 5;
    gridTypeIdx = page->gridType;
    gridSizeIdx = page->gridSize;
    xRate = winRate = 1;
    xLeft = winLeft = 0;
    xTop = winTop = 0;
    if (bkgBmp != nullptr) {
        if (VIEW_WIDTH > 0 && VIEW_HEIGHT > 0)
            applyImageFit();
        else
            fitPending = true;
    }
    if (strokeBmp != nullptr) {
        drawWin();
        update();
    }
    boardChanged();
    emit pagesChanged();
}

// The current page's picture or document page, from the background cache;
// a picture that cannot be shown (missing, not a regular file, unreadable,
// too large) leaves a colour page.
void BoardWidget::loadBackground()
{
    delete bkgBmp;
    bkgBmp = nullptr;
    fitPending = false;
    if (page == nullptr || page->bkgType != BT_IMG || page->bkgFile.isEmpty())
        return;
    const QPixmap pm = BackgroundCache::pixmap(page->bkgFile, page->bkgPage);
    if (!pm.isNull())
        bkgBmp = new QPixmap(pm);
}

void BoardWidget::loadDot()
{
    for (int i = 0; i < 61; ++i) {
        const int k = i + 1;
        const int side = k == 1 ? 3 : 2 * (k / 2) + 1;
        delete dots[5][i];
        dots[5][i] = new QPixmap(QString::asprintf(":assert/dot/%d_%dx%d.png", k, side, side));
        const QImage src = dots[5][i]->toImage().convertToFormat(QImage::Format_ARGB32);
        for (int c = 0; c < 5; ++c) {
            QImage tinted = src.copy();
            for (int y = 0; y < tinted.height(); ++y) {
                QRgb* line = reinterpret_cast<QRgb*>(tinted.scanLine(y));
                for (int x = 0; x < tinted.width(); ++x)
                    line[x] &= COLORS[c];
            }
            delete dots[c][i];
            dots[c][i] = new QPixmap(QPixmap::fromImage(tinted));
        }
    }
}

void BoardWidget::priorPage()
{
    endStroke();
    if (pageIdx > 0)
        loadPage(static_cast<unsigned int>(pageIdx - 1));
}

void BoardWidget::goToPage(int idx)
{
    endStroke();
    if (idx >= 0 && idx < static_cast<int>(pages.size()) && idx != pageIdx)
        loadPage(static_cast<unsigned int>(idx));
}

void BoardWidget::nextPage()
{
    endStroke();
    if (pageIdx < static_cast<int>(pages.size()) - 1)
        loadPage(static_cast<unsigned int>(pageIdx + 1));
}

// The type for new pages too. A colour type shows at once: an image loaded
// for the page is dropped (the page keeps its file), and a white pen on a
// white page turns red.
void BoardWidget::setBkgType(BkgType type)
{
    endStroke();
    if (page == nullptr) {
        bkgType = type;
        return;
    }
    if (type == page->bkgType && type == bkgType)
        return;
    undoStack_->push(new BackgroundCommand(this, page, type));
}

void BoardWidget::applyBackground(Page* pg, BkgType pageType, BkgType newPageType)
{
    makeCurrent(pg);
    bkgType = newPageType;
    pg->setBkgType(pageType);
    if (pageType != BT_IMG && bkgBmp != nullptr) {
        delete bkgBmp;
        bkgBmp = nullptr;
        fitPending = false;
    } else if (pageType == BT_IMG && bkgBmp == nullptr) {
        // Back to its picture (an undo): shown where the view is.
        loadBackground();
    }
    if (colourType(pg) == BT_WHITE && bkgBmp == nullptr && penColorIdx == 5)
        penColorIdx = 0;
    showChanged(pg);
}

void BoardWidget::setGridType(int gridType)
{
    endStroke();
    if (page == nullptr) {
        gridTypeIdx = gridType;
        return;
    }
    if (gridType == page->gridType)
        return;
    undoStack_->push(new GridCommand(this, page, gridType, page->gridSize));
}

void BoardWidget::setGridSize(int gridSize)
{
    endStroke();
    if (page == nullptr) {
        gridSizeIdx = gridSize;
        return;
    }
    if (gridSize == page->gridSize)
        return;
    undoStack_->push(new GridCommand(this, page, page->gridType, gridSize));
}

void BoardWidget::applyGrid(Page* pg, int gridType, int gridSize)
{
    makeCurrent(pg);
    pg->gridType = gridType;
    pg->gridSize = gridSize;
    gridTypeIdx = gridType;
    gridSizeIdx = gridSize;
    showChanged(pg);
}

void BoardWidget::undo()
{
    endStroke();
    undoStack_->undo();
}

void BoardWidget::redo()
{
    endStroke();
    undoStack_->redo();
}

void BoardWidget::clear()
{
    endStroke();
    if (page == nullptr)
        return;
    undoStack_->push(new ClearCommand(this, page));
}

bool BoardWidget::deletePage()
{
    endStroke();
    if (pageIdx < 0 || pages.size() < 2)
        return false;
    undoStack_->push(new DeletePageCommand(this, pageIdx));
    return true;
}

void BoardWidget::duplicatePage()
{
    endStroke();
    if (page == nullptr)
        return;
    std::unique_ptr<Page> copy = BoardFile::copy(*page);
    if (!copy)
        return;
    undoStack_->push(new AddPageCommand(this, pageIdx + 1, copy.release(), tr("Duplicate the page")));
}

bool BoardWidget::movePage(int delta)
{
    endStroke();
    const int to = pageIdx + delta;
    if (pageIdx < 0 || delta == 0 || to < 0 || to >= static_cast<int>(pages.size()))
        return false;
    undoStack_->push(new MovePageCommand(this, pageIdx, to));
    return true;
}

void BoardWidget::makeCurrent(Page* pg)
{
    if (pg == page)
        return;
    const auto it = std::find(pages.begin(), pages.end(), pg);
    if (it != pages.end())
        loadPage(static_cast<unsigned int>(it - pages.begin()));
}

void BoardWidget::showChanged(Page* pg)
{
    makeCurrent(pg);
    drawWin();
    update();
    boardChanged();
    const auto it = std::find(pages.begin(), pages.end(), pg);
    if (it != pages.end())
        emit pageEdited(static_cast<int>(it - pages.begin()));
}

void BoardWidget::showPageAt(int idx)
{
    // The page shown keeps its view when it stays the page shown (a move).
    if (idx >= 0 && static_cast<size_t>(idx) < pages.size() && pages[idx] == page) {
        pageIdx = idx;
        boardChanged();
        emit pagesChanged();
        return;
    }
    loadPage(static_cast<unsigned int>(std::max(0, idx)));
}
