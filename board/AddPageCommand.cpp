#include "AddPageCommand.h"

#include "BoardWidget.h"

#include <algorithm>

AddPageCommand::AddPageCommand(BoardWidget* board, int index, Page* pg, const QString& text)
    : BoardCommand(board, pg, text), index_(index), before_(::page)
{
}

AddPageCommand::~AddPageCommand()
{
    if (!inList_)
        delete page_;
}

void AddPageCommand::redo()
{
    const int at = std::min(std::max(index_, 0), static_cast<int>(pages.size()));
    pages.insert(pages.begin() + at, page_);
    inList_ = true;
    board_->showPageAt(at);
}

void AddPageCommand::undo()
{
    const auto it = std::find(pages.begin(), pages.end(), page_);
    if (it == pages.end())
        return;
    pages.erase(it);
    inList_ = false;
    const auto back = std::find(pages.begin(), pages.end(), before_);
    board_->showPageAt(back != pages.end() ? static_cast<int>(back - pages.begin())
                                           : std::min(index_, static_cast<int>(pages.size()) - 1));
}
