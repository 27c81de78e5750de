#include "BackgroundCommand.h"

#include "BoardWidget.h"

BackgroundCommand::BackgroundCommand(BoardWidget* board, Page* page, BkgType type)
    : BoardCommand(board, page, tr("Background")),
      oldType_(page->bkgType),
      newType_(type),
      oldNewPage_(bkgType),
      newNewPage_(type)
{
}

void BackgroundCommand::redo()
{
    board_->applyBackground(page_, newType_, newNewPage_);
}

void BackgroundCommand::undo()
{
    board_->applyBackground(page_, oldType_, oldNewPage_);
}

bool BackgroundCommand::mergeWith(const QUndoCommand* other)
{
    const auto* o = static_cast<const BackgroundCommand*>(other);
    if (o->page_ != page_)
        return false;
    newType_ = o->newType_;
    newNewPage_ = o->newNewPage_;
    setObsolete(newType_ == oldType_ && newNewPage_ == oldNewPage_);
    return true;
}
