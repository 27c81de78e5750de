#ifndef TAVLO_GROUPTILE_H
#define TAVLO_GROUPTILE_H

#include "GroupTable.h"

#include <QFrame>
#include <QImage>

class Console;
class QComboBox;
class QLabel;

// One group in the console's window: its thumbnail, number, address, live
// port, age, a conflicting address, what it is told to show, whether its
// commands are signed, and its commands. GUI thread.
class GroupTile : public QFrame {
    Q_OBJECT
public:
    GroupTile(Console* console, QWidget* parent = nullptr);

    // Shows row; groups lists the present group numbers for the "show" menu.
    void setRow(const GroupRow& row, const std::vector<int>& groups);
    // The thumbnail, or the reason there is none (error empty: a picture).
    void setThumbnail(const QImage& picture, const QString& error);

    // "shows nothing", "shows the teacher", "shows group N".
    static QString showingText(std::optional<int> showing);

Q_SIGNALS:
    // A command's result line, for the window's status bar.
    void commandDone(const QString& result);

private:
    Console* console_;
    GroupRow row_;
    QLabel* thumb_;
    QLabel* title_;
    QLabel* info_;
    QLabel* showing_;
    QLabel* trust_;
    QLabel* conflict_;
    QComboBox* source_;
};

#endif
