#include "MovePageCommand.h"

#include "BoardWidget.h"

#include <algorithm>

MovePageCommand::MovePageCommand(BoardWidget* board, int from, int to)
    : BoardCommand(board, pages.at(static_cast<size_t>(from)), tr("Move the page")), from_(from), to_(to)
{
}

void MovePageCommand::move(int to)
{
    const auto it = std::find(pages.begin(), pages.end(), page_);
    if (it == pages.end())
        return;
    pages.erase(it);
    const int at = std::min(std::max(to, 0), static_cast<int>(pages.size()));
    pages.insert(pages.begin() + at, page_);
    board_->showPageAt(at);
}

void MovePageCommand::redo()
{
    move(to_);
}

void MovePageCommand::undo()
{
    move(from_);
}
