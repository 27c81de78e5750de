#ifndef TAVLO_RESOURCEFILES_H
#define TAVLO_RESOURCEFILES_H

// What the build-time picture generators share: writing a picture and the
// group's .qrc file that lists the pictures under their resource paths.

#include <QFile>
#include <QImage>
#include <QString>
#include <QTextStream>
#include <cstdio>
#include <vector>

struct ResourceEntry {
    QString alias;  // path inside the resource system, without ":/"
    QString file;   // file name in the output directory
};

inline bool writeQrc(const QString& dir, const QString& group, const std::vector<ResourceEntry>& entries)
{
    QFile f(dir + "/" + group + ".qrc");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&f);
    out.setCodec("UTF-8");
    out << "<!DOCTYPE RCC><RCC version=\"1.0\">\n<qresource prefix=\"/\">\n";
    for (const ResourceEntry& e : entries)
        out << "    <file alias=\"" << e.alias << "\">" << e.file << "</file>\n";
    out << "</qresource>\n</RCC>\n";
    return true;
}

inline bool savePicture(const QImage& img, const QString& path, const char* format = "PNG")
{
    if (!img.save(path, format)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

#endif
