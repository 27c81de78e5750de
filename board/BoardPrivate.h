#ifndef TAVLO_BOARDPRIVATE_H
#define TAVLO_BOARDPRIVATE_H

// Helpers that the board's source files share; each is defined next to the
// concern it belongs to. Not for use outside the board.

#include "BoardState.h"

#include <algorithm>

template <typename T>
T clampTo(T v, T lo, T hi)
{
    return std::max(lo, std::min(v, hi));
}

// The colour fill of a page (BoardPages.cpp).
BkgType colourType(const Page* pg);
// Fits the current background image into the view: view and window
// transforms (BoardPages.cpp).
void applyImageFit();
// Drops the eraser rectangle shown on screen (BoardGestures.cpp).
void dropEraserRect();

#endif
