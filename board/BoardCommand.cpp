#include "BoardCommand.h"

BoardCommand::BoardCommand(BoardWidget* board, Page* page, const QString& text) : board_(board), page_(page)
{
    setText(text);
}
