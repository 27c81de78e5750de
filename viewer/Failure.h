#ifndef TAVLO_VIEWER_FAILURE_H
#define TAVLO_VIEWER_FAILURE_H

#include <cstdio>
#include <stdexcept>
#include <string>

// A set-up failure of the viewer: prints its line on stdout ("Could not open
// the stream", ...; pinned by tests) and raises the error that ends the
// stream, whose text is the line with a line feed. The viewer's handler then
// prints "runtime error". Viewer thread.
[[noreturn]] inline void failWithLine(const char* line)
{
    std::printf("%s\n", line);
    throw std::runtime_error(std::string(line) + "\n");
}

#endif
