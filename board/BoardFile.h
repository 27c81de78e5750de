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
// byte layout (version 2; version 1 is read too) is described in the README
// ("Board files"). A reader takes nothing on trust: what the writer never
// writes (empty segments, unknown kinds, absurd coordinates or times) is
// refused, and counts are bounded by the bytes that follow.
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
    static const qint64 MAX_BYTES;   // larger contents are refused before reading
    static const double MAX_COORDINATE;  // |x|, |y| of any point, page units
    static const qint64 MAX_TIME_MS;     // |time| of any sample
    static const int MAX_WIDTH;          // widest pen

    // The file image of a board.
    static QByteArray encode(const std::vector<Page*>& pages, int pageIdx, BkgType newPageType);
    // Reads a file image; false with a message naming what is wrong (foreign
    // file, newer version, truncated, checksum mismatch, malformed content).
    static bool decode(const QByteArray& bytes, Contents& out, QString* error);
    // decode() of the file at path; false also when it cannot be read, is not
    // a regular file or is too large (refused before reading). Relative
    // picture and document paths are resolved against the file's folder.
    static bool read(const QString& path, Contents& out, QString* error);
    // A deep copy of a page (strokes, background, grid); null only if the
    // page cannot be written at all.
    static std::unique_ptr<Page> copy(const Page& pg);
    // Temporary file in the same folder, fsync, rename over path, fsync of
    // the folder. On failure path is untouched and no temporary file stays.
    static bool writeAtomic(const QString& path, const QByteArray& bytes, QString* error);
};

#endif
