#ifndef TAVLO_CLEARCOMMAND_H
#define TAVLO_CLEARCOMMAND_H

#include "BoardCommand.h"

#include <vector>

class Stroke;

// Clearing a page: all its strokes go (owned by the command while cleared),
// the view goes back to rate 1 at the page's corner and the tool to the pen;
// undo brings every stroke back.
class ClearCommand : public BoardCommand {
public:
    ClearCommand(BoardWidget* board, Page* page);
    ~ClearCommand() override;

    void undo() override;
    void redo() override;

private:
    std::vector<Stroke*> removed_;  // owned while cleared
};

#endif
