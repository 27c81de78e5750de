#ifndef TAVLO_BACKGROUNDCOMMAND_H
#define TAVLO_BACKGROUNDCOMMAND_H

#include "BoardCommand.h"
#include "Page.h"

// A page's background type and the type new pages get. Successive changes of
// one page merge into one step (pressing B three times is undone at once);
// changes that end where they began vanish from the history.
class BackgroundCommand : public BoardCommand {
public:
    BackgroundCommand(BoardWidget* board, Page* page, BkgType type);

    void undo() override;
    void redo() override;
    int id() const override { return 1; }
    bool mergeWith(const QUndoCommand* other) override;

private:
    BkgType oldType_, newType_;        // the page's
    BkgType oldNewPage_, newNewPage_;  // for new pages
};

#endif
