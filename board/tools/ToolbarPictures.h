#ifndef TAVLO_TOOLBARPICTURES_H
#define TAVLO_TOOLBARPICTURES_H

#include <QString>

// Draws the board toolbar's button pictures into dir and writes the
// "toolbar" group's .qrc file: for every button NAME three 70 x 70 pictures
// toolbar/NAME_0.png (normal), NAME_1.png (hover) and NAME_2.png (pressed).
bool makeToolbar(const QString& dir);

#endif
