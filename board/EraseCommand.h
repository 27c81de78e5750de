#ifndef TAVLO_ERASECOMMAND_H
#define TAVLO_ERASECOMMAND_H

#include "StrokeCommand.h"

// A finished eraser stroke (rectangle, free-form or four fingers): undone,
// the ink under it comes back.
class EraseCommand : public StrokeCommand {
public:
    EraseCommand(BoardWidget* board, Page* page, Stroke* stroke);
};

#endif
