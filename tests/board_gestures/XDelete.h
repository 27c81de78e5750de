#ifndef TAVLO_XDELETE_H
#define TAVLO_XDELETE_H

#include <string>

// Asks a window to close as a window manager does (WM_PROTOCOLS /
// WM_DELETE_WINDOW client message). display is e.g. ":101", window an id as
// xwininfo prints it ("0x400007"). False when the display cannot be opened.
bool requestWindowClose(const std::string& display, const std::string& window);

#endif
