#include "ClearCommand.h"

#include "BoardWidget.h"
#include "Page.h"

ClearCommand::ClearCommand(BoardWidget* board, Page* page) : BoardCommand(board, page, tr("Clear the page")) {}

ClearCommand::~ClearCommand()
{
    for (Stroke* st : removed_)
        delete st;
}

void ClearCommand::redo()
{
    removed_.insert(removed_.end(), page_->strokes.begin(), page_->strokes.end());
    page_->strokes.clear();
    // An empty page exports at the view's size again.
    page_->updateMaxPoint();
    board_->makeCurrent(page_);
    xRate = 1;
    xLeft = 0;
    xTop = 0;
    eraserStatus = ES_PEN;
    board_->showChanged(page_);
}

void ClearCommand::undo()
{
    page_->strokes.insert(page_->strokes.begin(), removed_.begin(), removed_.end());
    removed_.clear();
    page_->updateMaxPoint();
    board_->showChanged(page_);
}
