#ifndef TAVLO_STDINCONTROL_H
#define TAVLO_STDINCONTROL_H

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

class Console;

// Drives the console from its standard input, one command a line, for
// scripts and tests; the answers are stdout lines:
//   list                  one "row G ADDR PORT AGE_S present|gone [conflict ADDR] [signed] shows ..."
//                         line per group, then "end"
//   show N to G | to all  show group N's screen (0: the teacher's) on group G or on every other group
//   stop G | stop all
//   pictures              one "pictures G ADDR N [why there is none]" line per group (N: thumbnails
//                         decoded so far), then "end"
//   thumbnail G FILE      saves group G's thumbnail as FILE (PNG): "saved FILE"
// The commands are the ones the window's buttons give. GUI thread.
class StdinControl : public QObject {
    Q_OBJECT
public:
    explicit StdinControl(Console* console, QObject* parent = nullptr);

    // The answer to one command line (without the newline).
    QString execute(const QString& line);

private:
    void onReadable();
    Console* console_;
    QSocketNotifier notifier_;
    QByteArray pending_;
};

#endif
