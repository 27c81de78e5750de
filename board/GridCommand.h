#ifndef TAVLO_GRIDCOMMAND_H
#define TAVLO_GRIDCOMMAND_H

#include "BoardCommand.h"

// A page's grid type and size. Successive changes of one page merge into
// one step; changes that end where they began vanish from the history.
class GridCommand : public BoardCommand {
public:
    GridCommand(BoardWidget* board, Page* page, int gridType, int gridSize);

    void undo() override;
    void redo() override;
    int id() const override { return 2; }
    bool mergeWith(const QUndoCommand* other) override;

private:
    int oldType_, oldSize_;
    int newType_, newSize_;
};

#endif
