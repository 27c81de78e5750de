#ifndef TAVLO_MOVEPAGECOMMAND_H
#define TAVLO_MOVEPAGECOMMAND_H

#include "BoardCommand.h"

// A page moved from one place in the list to another; it is shown.
class MovePageCommand : public BoardCommand {
public:
    MovePageCommand(BoardWidget* board, int from, int to);

    void undo() override;
    void redo() override;

private:
    void move(int to);

    int from_;
    int to_;
};

#endif
