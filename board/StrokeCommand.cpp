#include "StrokeCommand.h"

#include "BoardWidget.h"
#include "Page.h"

#include <algorithm>

StrokeCommand::StrokeCommand(BoardWidget* board, Page* page, Stroke* stroke)
    : StrokeCommand(board, page, stroke, tr("Stroke"))
{
}

StrokeCommand::StrokeCommand(BoardWidget* board, Page* page, Stroke* stroke, const QString& text)
    : BoardCommand(board, page, text), stroke_(stroke)
{
    const auto it = std::find(page->strokes.begin(), page->strokes.end(), stroke);
    index_ = static_cast<size_t>(it - page->strokes.begin());
}

StrokeCommand::~StrokeCommand()
{
    if (!onPage_)
        delete stroke_;
}

void StrokeCommand::undo()
{
    auto& strokes = page_->strokes;
    const auto it = std::find(strokes.begin(), strokes.end(), stroke_);
    if (it == strokes.end())
        return;
    strokes.erase(it);
    onPage_ = false;
    page_->updateMaxPoint();
    board_->showChanged(page_);
}

void StrokeCommand::redo()
{
    if (!pushed_) {
        pushed_ = true;  // drawn already
        return;
    }
    if (onPage_)
        return;
    auto& strokes = page_->strokes;
    strokes.insert(strokes.begin() + static_cast<std::ptrdiff_t>(std::min(index_, strokes.size())), stroke_);
    onPage_ = true;
    page_->updateMaxPoint();
    board_->showChanged(page_);
}
