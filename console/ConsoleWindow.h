#ifndef TAVLO_CONSOLEWINDOW_H
#define TAVLO_CONSOLEWINDOW_H

#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <set>
#include <vector>

class Console;
class GroupTile;
class LookCloserWindow;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;

// The teacher's window: the commands for all groups, the commands for the
// selected groups, the text of a lock card, the last command's result, and
// one tile per known group in group order. A click on a tile opens a closer
// look at it; Ctrl+click toggles it in the selection, Shift+click selects the
// tiles from the last one clicked to it, and each tile's "Select" box
// toggles it with a tap. "Stop all" and "Lock all" ask once before they go
// out. Before the teacher's screen is shown anywhere the window (and every
// closer look) is minimised, so the class sees the teacher's desktop, not
// the console. GUI thread.
class ConsoleWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit ConsoleWindow(Console* console, QWidget* parent = nullptr);

    // The tile of the pair "group address", or null.
    GroupTile* tile(const QString& key) const { return tiles_.value(key, nullptr); }
    // The selected groups, in number order.
    std::vector<int> selection() const { return std::vector<int>(selected_.begin(), selected_.end()); }
    // The open closer look at group, or null.
    LookCloserWindow* lookCloser(int group) const;
    // Opens (or raises) the closer look at group, if it is present.
    LookCloserWindow* openLookCloser(int group);
    // One "tile G X Y W H [selected]" line per tile (its picture on the
    // screen), then "end": for the stdin control.
    QString describeTiles() const;
    // The text for a lock card: what the teacher typed, or empty for the
    // terminal's default.
    QString lockText() const;

protected:
    void resizeEvent(QResizeEvent* e) override;

private:
    void refresh();
    // Puts each pair's latest thumbnail (or why it has none) on its tile.
    void refreshThumbnails();
    void report(const QString& result);
    // A click on a tile, with its modifiers.
    void onTileClicked(int group, Qt::KeyboardModifiers modifiers);
    void setSelected(int group, bool selected);
    void clearSelection();
    void refreshSelection();
    // Asks once whether to go on; true for yes.
    bool confirm(const QString& question, const QString& action);
    void askName(int group);
    void stepAside();

    Console* console_;
    QGridLayout* grid_;
    QScrollArea* scroll_;
    QLabel* status_;
    QLineEdit* lockText_;
    QLabel* selectionLabel_;
    std::vector<QWidget*> selectionControls_;
    QComboBox* selectionSource_;
    QMap<QString, GroupTile*> tiles_;
    QMap<QString, qint64> shownPictures_;  // per tile, the picture count it shows
    QMap<int, QPointer<LookCloserWindow>> looks_;
    std::set<int> selected_;
    int anchor_ = -1;  // the group clicked last, for Shift+click
    QTimer thumbTimer_;
};

#endif
