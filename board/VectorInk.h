#ifndef TAVLO_VECTORINK_H
#define TAVLO_VECTORINK_H

class Page;
class QPainter;

// A page's ink as vector paths, for a PDF: the hard pen as its curves, the
// soft pen as runs of round-capped lines as wide as its dots, in the stroke's
// colour. Erasers remove what they cover from the strokes drawn before them
// as clip paths (the page minus the eraser's area), so the PDF shows what the
// screen shows and keeps every line sharp at any zoom. The painter's
// transform maps page units to the output; scale is that transform's scale
// (the hard pen keeps its width in output pixels, as on screen). GUI thread.
class VectorInk {
public:
    static void draw(QPainter* painter, const Page* page, float scale);
};

#endif
