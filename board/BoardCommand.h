#ifndef TAVLO_BOARDCOMMAND_H
#define TAVLO_BOARDCOMMAND_H

#include <QCoreApplication>
#include <QUndoCommand>

class BoardWidget;
class Page;

// The base of the board's undo commands, one class per operation (stroke,
// erase, clear, page add, delete and move, background, grid), all on the
// board widget's QUndoStack. A command names the board and the page it
// changes; undoing or redoing it shows that page (another page than the one
// on screen is loaded first, so the user sees what changed), re-renders and
// schedules a save. A command's destructor never touches a page: it only
// releases what the command owns at that moment. GUI thread.
class BoardCommand : public QUndoCommand {
    Q_DECLARE_TR_FUNCTIONS(BoardCommand)

public:
    BoardCommand(BoardWidget* board, Page* page, const QString& text);

    Page* page() const { return page_; }

protected:
    BoardWidget* board_;
    Page* page_;  // not owned unless a subclass says so
};

#endif
