#include "GridCommand.h"

#include "BoardWidget.h"
#include "Page.h"

GridCommand::GridCommand(BoardWidget* board, Page* page, int gridType, int gridSize)
    : BoardCommand(board, page, tr("Grid")),
      oldType_(page->gridType),
      oldSize_(page->gridSize),
      newType_(gridType),
      newSize_(gridSize)
{
}

void GridCommand::redo()
{
    board_->applyGrid(page_, newType_, newSize_);
}

void GridCommand::undo()
{
    board_->applyGrid(page_, oldType_, oldSize_);
}

bool GridCommand::mergeWith(const QUndoCommand* other)
{
    const auto* o = static_cast<const GridCommand*>(other);
    if (o->page_ != page_)
        return false;
    newType_ = o->newType_;
    newSize_ = o->newSize_;
    setObsolete(newType_ == oldType_ && newSize_ == oldSize_);
    return true;
}
