#ifndef TAVLO_ADDPAGECOMMAND_H
#define TAVLO_ADDPAGECOMMAND_H

#include "BoardCommand.h"

// A page added at an index (a new page, or a copy of a page): shown when
// added; undo takes it out (owned by the command then) and shows the page
// that was shown before.
class AddPageCommand : public BoardCommand {
public:
    // pg is owned by the command until its first redo puts it into the list.
    AddPageCommand(BoardWidget* board, int index, Page* pg, const QString& text);
    ~AddPageCommand() override;

    void undo() override;
    void redo() override;

private:
    int index_;
    Page* before_;  // the page shown when the command was made
    bool inList_ = false;
};

#endif
