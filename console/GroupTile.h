#ifndef TAVLO_GROUPTILE_H
#define TAVLO_GROUPTILE_H

#include "GroupTable.h"

#include <QFrame>
#include <QImage>

class Console;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

// One group in the console's window: its thumbnail (the picture's aspect
// kept), number and name, address, live port, age, a conflicting address,
// what it is told to show, whether it is locked, whether its commands are
// signed, and its commands. A click on the tile asks for a closer look, a
// click with Ctrl or Shift (or the "Select" box, for a finger) selects it.
// GUI thread.
class GroupTile : public QFrame {
    Q_OBJECT
public:
    GroupTile(Console* console, QWidget* parent = nullptr);

    // Shows row with the teacher's name for the group (may be empty);
    // groups lists the present group numbers for the "show" menu.
    void setRow(const GroupRow& row, const QString& name, const std::vector<int>& groups);
    // The thumbnail, or the reason there is none (error empty: a picture).
    void setThumbnail(const QImage& picture, const QString& error);
    // Marks the tile as selected (its box ticked, its frame highlighted).
    void setSelected(bool selected);
    bool selected() const { return selected_; }
    int group() const { return row_.group; }
    // The thumbnail's place on the screen.
    QRect pictureRect() const;

    // What a group is told to show, as the stdin control's "list" writes it
    // (untranslated): "shows nothing", "shows the teacher", "shows group N".
    static QString showingText(std::optional<int> showing);
    // The same in the console's language, for the tile.
    static QString showingLabel(std::optional<int> showing, bool locked);
    // A puller's reason for having no picture, in the console's language
    // (the system's own words in it stay as they are).
    static QString errorLabel(const QString& error);

Q_SIGNALS:
    // A command's result line, for the diagnostics.
    void commandDone(const QString& result);
    // The tile was clicked: with no modifier, for a closer look; with Ctrl
    // to toggle it in the selection, with Shift to select up to it.
    void clicked(int group, Qt::KeyboardModifiers modifiers);
    // The "Select" box was toggled (by a tap or a click).
    void selectToggled(int group, bool selected);
    // "Name…" was chosen.
    void nameRequested(int group);
    // "Lock" was chosen (the window knows the card's text).
    void lockRequested(int group);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    Console* console_;
    GroupRow row_;
    bool selected_ = false;
    QLabel* thumb_;
    QLabel* title_;
    QLabel* info_;
    QLabel* showing_;
    QLabel* trust_;
    QLabel* conflict_;
    QCheckBox* select_;
    QPushButton* lock_;
    QComboBox* source_;
};

#endif
