#ifndef TAVLO_DELETEPAGECOMMAND_H
#define TAVLO_DELETEPAGECOMMAND_H

#include "BoardCommand.h"

// A page deleted from the list (owned by the command while deleted); the
// page that takes its place is shown. Undo puts it back and shows it.
class DeletePageCommand : public BoardCommand {
public:
    DeletePageCommand(BoardWidget* board, int index);
    ~DeletePageCommand() override;

    void undo() override;
    void redo() override;

private:
    int index_;
    bool inList_ = true;
};

#endif
