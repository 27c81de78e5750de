#ifndef TAVLO_REGULARFILE_H
#define TAVLO_REGULARFILE_H

#include <QByteArray>
#include <QFile>
#include <QString>

// Reading a file that a user or a board file names: only a regular file is
// read, and never more than a limit. The file is opened without blocking and
// what was opened is checked (not the name, which may change in between), so
// that a FIFO, a device such as /dev/zero or a huge file can neither hold up
// the GUI thread nor fill the memory. Any thread.
class RegularFile {
public:
    // Opens file (not yet open) for reading on path. False, with a text for
    // the user in error, when path cannot be opened, is not a regular file or
    // is larger than maxBytes.
    static bool open(const QString& path, qint64 maxBytes, QFile& file, QString* error);
    // The whole file at path, with the checks of open().
    static bool read(const QString& path, qint64 maxBytes, QByteArray& out, QString* error);
};

#endif
