#ifndef TAVLO_STROKECOMMAND_H
#define TAVLO_STROKECOMMAND_H

#include "BoardCommand.h"

#include <cstddef>

class Stroke;

// A finished pen stroke on a page. It is pushed when the stroke ends, with
// the stroke already on the page, so its first redo does nothing; undo takes
// the stroke off the page (the command owns it then), redo puts it back at
// its place.
class StrokeCommand : public BoardCommand {
public:
    StrokeCommand(BoardWidget* board, Page* page, Stroke* stroke);
    ~StrokeCommand() override;

    void undo() override;
    void redo() override;

    Stroke* stroke() const { return stroke_; }

protected:
    StrokeCommand(BoardWidget* board, Page* page, Stroke* stroke, const QString& text);

private:
    Stroke* stroke_;
    size_t index_;        // its place in the page's strokes
    bool onPage_ = true;  // false: undone, owned by the command
    bool pushed_ = false;
};

#endif
