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

// The whiteboard's top-level window: one board widget filling it, and the
// board's toolbar (BoardToolbar) floating over it. Closing it only hides it; the application keeps running and the
// board keeps its pages. GUI thread.
class BoardForm : public QWidget {
    Q_OBJECT

public:
    explicit BoardForm(QWidget* parent = nullptr);
    ~BoardForm() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Ui::BoardForm* ui;
};

// The board widget of the most recently built form (a child of that form), or
// null. Not owning.
extern BoardWidget* boardWidget;

#endif
