#include "EraseCommand.h"

EraseCommand::EraseCommand(BoardWidget* board, Page* page, Stroke* stroke)
    : StrokeCommand(board, page, stroke, tr("Erase"))
{
}
