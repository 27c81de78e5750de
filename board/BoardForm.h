#ifndef TAVLO_BOARDFORM_H
#define TAVLO_BOARDFORM_H

#include <QWidget>

class BoardWidget;
class QCloseEvent;

QT_BEGIN_NAMESPACE
namespace Ui {
class BoardForm;
}
QT_END_NAMESPACE

class PageStrip;
class QAction;
class QFileDialog;
class QMessageBox;

// The whiteboard's top-level window: one board widget filling it, the
// board's toolbar (BoardToolbar) and the strip of page thumbnails
// (PageStrip, shown by the toolbar's "pages" button and when a document is
// opened) floating over it. What the board has to tell (a file it cannot
// open or write, a board it cannot save) shows in a message box that never
// blocks drawing; before a board that cannot be saved is dropped, the window
// asks. Closing it only hides it; the application keeps running and the board
// keeps its pages. GUI thread.
class BoardForm : public QWidget {
    Q_OBJECT

public:
    explicit BoardForm(QWidget* parent = nullptr);
    ~BoardForm() override;

    PageStrip* pageStrip() const { return strip_; }
    // The dialog that asks for a PDF or picture while it is open, else null.
    QFileDialog* documentDialog() const;
    // The box that says the board cannot be saved while it is shown, else
    // null.
    QMessageBox* saveTroubleBox() const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showMessage(const QString& text);
    void showSaveTrouble(const QString& text);
    void askForDocument();

    Ui::BoardForm* ui;
    PageStrip* strip_ = nullptr;
    QAction* pagesAction_ = nullptr;
    QMessageBox* saveBox_ = nullptr;  // child while shown, deleted on close
    QFileDialog* dialog_ = nullptr;   // child while open, deleted when answered
    QString documentFolder_;          // where the dialog opens
};

// The board widget of the most recently built form (a child of that form), or
// null. Not owning.
extern BoardWidget* boardWidget;

#endif
