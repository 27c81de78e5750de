#ifndef TAVLO_CONSOLEWINDOW_H
#define TAVLO_CONSOLEWINDOW_H

#include <QMainWindow>
#include <QMap>
#include <QString>

class Console;
class GroupTile;
class QGridLayout;
class QLabel;

// The teacher's window: the commands for all groups, the last command's
// result, and one tile per known group in group order. GUI thread.
class ConsoleWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ConsoleWindow(Console* console, QWidget* parent = nullptr);

    // The tile of the pair "group address", or null.
    GroupTile* tile(const QString& key) const { return tiles_.value(key, nullptr); }

private:
    void refresh();
    void report(const QString& result);

    Console* console_;
    QGridLayout* grid_;
    QLabel* status_;
    QMap<QString, GroupTile*> tiles_;
};

#endif
