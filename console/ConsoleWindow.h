#ifndef TAVLO_CONSOLEWINDOW_H
#define TAVLO_CONSOLEWINDOW_H

#include <QMainWindow>
#include <QMap>
#include <QString>
#include <QTimer>

class Console;
class GroupTile;
class QGridLayout;
class QLabel;
class QScrollArea;

// The teacher's window: the commands for all groups, the last command's
// result, and one tile per known group in group order. GUI thread.
class ConsoleWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ConsoleWindow(Console* console, QWidget* parent = nullptr);

    // The tile of the pair "group address", or null.
    GroupTile* tile(const QString& key) const { return tiles_.value(key, nullptr); }

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void refresh();
    // Puts each pair's latest thumbnail (or why it has none) on its tile.
    void refreshThumbnails();
    void report(const QString& result);

    Console* console_;
    QGridLayout* grid_;
    QScrollArea* scroll_;
    QLabel* status_;
    QMap<QString, GroupTile*> tiles_;
    QMap<QString, qint64> shownPictures_;  // per tile, the picture count it shows
    QTimer thumbTimer_;
};

#endif
