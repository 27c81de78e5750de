#ifndef TAVLO_STDINCONTROL_H
#define TAVLO_STDINCONTROL_H

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QString>

class Console;
class ConsoleWindow;

// Drives the console from its standard input, one command a line, for
// scripts and tests; the answers are stdout lines:
//   list                  one "row G ADDR PORT AGE_S present|gone [conflict ADDR] [signed] shows ...
//                         [locked]" line per group, then "end"
//   show N to G | to G,H,... | to all
//                         show group N's screen (0: the teacher's) on group G, on those groups, or on
//                         every other group
//   stop G | G,H,... | all
//   lock G | G,H,... | all [TEXT]
//                         cover those screens with a card saying TEXT (default: the terminal's own)
//   unlock G | G,H,... | all
//   name G [NAME]         names group G (no NAME: takes its name away)
//   pictures              one "pictures G ADDR N [why there is none]" line per group (N: thumbnails
//                         decoded so far), then "end"
//   stream G              "stream G URL": where group G's thumbnails come from ("none" before the first)
//   thumbnail G FILE      saves group G's thumbnail as FILE (PNG): "saved FILE"
//   tiles                 one "tile G X Y W H [selected]" line per tile of the window (its picture's
//                         place on the screen), then "end"
// The commands are the ones the window's buttons give, without the
// window's confirmations. GUI thread.
class StdinControl : public QObject {
    Q_OBJECT
public:
    // window: for "tiles"; may be null.
    StdinControl(Console* console, ConsoleWindow* window, QObject* parent = nullptr);

    // The answer to one command line (without the newline).
    QString execute(const QString& line);

private:
    void onReadable();
    Console* console_;
    ConsoleWindow* window_;
    QSocketNotifier notifier_;
    QByteArray pending_;
};

#endif
