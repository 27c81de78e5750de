#include "BoardWidget.h"

#include "BoardPrivate.h"
#include "Utils.h"

#include <QImage>
#include <QSizeF>
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
    if (pageIdx >= 0 && !pages.empty() && pages.back()->strokes.empty()) {
        Page* last = pages.back();
        last->setBkg(ABkgFile);
        // An empty page reused without an image becomes a colour page again.
        if (ABkgFile.isEmpty() && last->bkgType == BT_IMG && bkgType != BT_IMG)
            last->setBkgType(bkgType);
    } else {
        pages.push_back(new Page(ABkgFile, bkgType, gridTypeIdx, gridSizeIdx));
    }
    loadPage(static_cast<unsigned int>(pages.size() - 1));
}

void BoardWidget::loadPage(unsigned int Idx)
{
    if (Idx >= pages.size())
        throw std::runtime_error("指定的批注或黑板不存在");
    page = pages[Idx];
    delete bkgBmp;
    bkgBmp = nullptr;
    fitPending = false;
    if (page->bkgType == BT_IMG && !page->bkgFile.isEmpty()) {
        QPixmap* img = new QPixmap(page->bkgFile);
        if (img->isNull())
            delete img;  // missing or unreadable: shown as a colour page
        else
            bkgBmp = img;
    }
    const BkgType shown = bkgBmp != nullptr ? BT_IMG : colourType(page);
    penColorIdx = (shown == BT_IMG || shown == BT_WHITE) ? 0 : 5;
    gridTypeIdx = page->gridType;
    gridSizeIdx = page->gridSize;
    pageIdx = static_cast<int>(Idx);
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

// GUI thread.
void BoardWidget::priorPage()
{
    if (pageIdx > 0)
        loadPage(static_cast<unsigned int>(pageIdx - 1));
}

// GUI thread.
void BoardWidget::nextPage()
{
    if (pageIdx < static_cast<int>(pages.size()) - 1)
        loadPage(static_cast<unsigned int>(pageIdx + 1));
}

// GUI thread. The type for new pages too. A colour type shows at once: an
// image loaded for the page is dropped (the page keeps its file), and a white
// pen on a white page turns red.
void BoardWidget::setBkgType(BkgType type)
{
    if (page != nullptr)
        page->setBkgType(type);
    bkgType = type;
    if (type != BT_IMG && bkgBmp != nullptr) {
        delete bkgBmp;
        bkgBmp = nullptr;
        fitPending = false;
    }
    if (colourType(page) == BT_WHITE && bkgBmp == nullptr && penColorIdx == 5)
        penColorIdx = 0;
    drawWin();
    update();
    boardChanged();
}

// GUI thread.
void BoardWidget::setGridType(int gridType)
{
    if (page != nullptr)
        page->gridType = gridType;
    gridTypeIdx = gridType;
    drawWin();
    update();
    boardChanged();
}

// GUI thread.
void BoardWidget::setGridSize(int gridSize)
{
    if (page != nullptr)
        page->gridSize = gridSize;
    gridSizeIdx = gridSize;
    drawWin();
    update();
    boardChanged();
}

// GUI thread.
void BoardWidget::undo()
{
    if (page == nullptr || page->strokes.empty())
        return;
    page->undone.push_back(page->strokes.back());
    page->strokes.pop_back();
    drawWin();
    update();
    boardChanged();
}

// GUI thread.
void BoardWidget::clear()
{
    if (page == nullptr)
        return;
    for (Stroke* st : page->strokes)
        delete st;
    page->strokes.clear();
    page->forgetUndone();
    // An empty page exports at the view's size again.
    page->updateMaxPoint();
    xRate = 1;
    xLeft = 0;
    xTop = 0;
    eraserStatus = ES_PEN;
    drawWin();
    update();
    boardChanged();
}
