#include "DeletePageCommand.h"

#include "BoardWidget.h"

#include <algorithm>

DeletePageCommand::DeletePageCommand(BoardWidget* board, int index)
    : BoardCommand(board, pages.at(static_cast<size_t>(index)), tr("Delete the page")), index_(index)
{
}

DeletePageCommand::~DeletePageCommand()
{
    if (!inList_)
        delete page_;
}

void DeletePageCommand::redo()
{
    const auto it = std::find(pages.begin(), pages.end(), page_);
    if (it == pages.end() || pages.size() < 2)
        return;
    index_ = static_cast<int>(it - pages.begin());
    pages.erase(it);
    inList_ = false;
    board_->showPageAt(std::min(index_, static_cast<int>(pages.size()) - 1));
}

void DeletePageCommand::undo()
{
    if (inList_)
        return;
    const int at = std::min(index_, static_cast<int>(pages.size()));
    pages.insert(pages.begin() + at, page_);
    inList_ = true;
    board_->showPageAt(at);
}
