#ifndef TAVLO_BOARDFILE_H
#define TAVLO_BOARDFILE_H

#include "Page.h"

#include <QByteArray>
#include <QString>
#include <memory>
#include <vector>

// A whole board on disk: every page with its background, grid, ink box and
// strokes, each stroke with every timed point and its segment structure, so
// that a page read back renders exactly as the page that was written. The
// byte layout (version 1) is described in the README ("Board files").
//
// encode/decode are pure; writeAtomic writes a temporary file beside the
// target, syncs it and renames it over the target, so a reader (or a crash at
// any moment) sees either the old file or the new one, never a mix. None of
// it touches the board state: it may run on any thread.
class BoardFile {
public:
    // What a board file holds, owning its pages.
    struct Contents {
        std::vector<std::unique_ptr<Page>> pages;
        int pageIdx = -1;               // the page shown, -1 only without pages
        BkgType newPageType = BT_GREEN;  // background type given to new pages
    };

    static const char MAGIC[8];      // "TAVLOBRD"
    static const quint32 VERSION;    // the version written (and the newest read)
    static const qint64 MAX_BYTES;   // larger files are refused before reading

    // The file image of a board.
    static QByteArray encode(const std::vector<Page*>& pages, int pageIdx, BkgType newPageType);
    // Reads a file image; false with a message naming what is wrong (foreign
    // file, newer version, truncated, checksum mismatch, malformed content).
    static bool decode(const QByteArray& bytes, Contents& out, QString* error);
    // decode() of the file at path; false also when it cannot be read.
    static bool read(const QString& path, Contents& out, QString* error);
    // Temporary file in the same folder, fsync, rename over path, fsync of
    // the folder. On failure path is untouched and no temporary file stays.
    static bool writeAtomic(const QString& path, const QByteArray& bytes, QString* error);
};

#endif
