#include "BoardForm.h"

#include "BoardToolbar.h"
#include "BoardWidget.h"
#include "ui_BoardForm.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QSizePolicy>

BoardWidget* boardWidget = nullptr;

BoardForm::BoardForm(QWidget* parent) : QWidget(parent), ui(new Ui::BoardForm)
{
    setAttribute(Qt::WA_QuitOnClose, false);
    ui->setupUi(this);

    boardWidget = new BoardWidget(this);
    boardWidget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // The board takes the keyboard shortcuts: it gets the focus of the window.
    boardWidget->setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(boardWidget);
    boardWidget->newPage(QString(), true);
    // Saved as one draws from the first change on: an untouched board
    // leaves no file behind.
    boardWidget->setAutosave(true);
    connect(boardWidget, &BoardWidget::boardMessage, this, [this](const QString& text) {
        QMessageBox* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tavlo"), text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::NonModal);  // a message box is modal by default: drawing goes on
        box->show();
    });
    ui->verticalLayout->addWidget(boardWidget);
    // The toolbar floats over the board, outside the layout: the board keeps
    // the whole window.
    new BoardToolbar(boardWidget, this);
}

BoardForm::~BoardForm()
{
    // The widget goes with the window (it is a child); no pointer to it stays.
    if (boardWidget != nullptr && boardWidget->parent() == this)
        boardWidget = nullptr;
    delete ui;
}

void BoardForm::closeEvent(QCloseEvent* event)
{
    // Closing only hides the window: the form and the board stay.
    Q_UNUSED(event);
}
