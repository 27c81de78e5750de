#include "BoardForm.h"

#include "BoardToolbar.h"
#include "BoardWidget.h"
#include "PageStrip.h"
#include "ui_BoardForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QSizePolicy>
#include <QStandardPaths>

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
    BoardWidget* board = boardWidget;
    connect(board, &BoardWidget::boardMessage, this, &BoardForm::showMessage);
    connect(board, &BoardWidget::saveTrouble, this, &BoardForm::showSaveTrouble);
    connect(board, &BoardWidget::saveRecovered, this, [this] {
        if (saveBox_ != nullptr)
            saveBox_->close();
    });
    board->setDropQuestion([this](const QString& text) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Tavlo"), text, QMessageBox::NoButton, this);
        QPushButton* drop = box.addButton(tr("Open it, lose the board"), QMessageBox::DestructiveRole);
        QPushButton* keep = box.addButton(tr("Keep the board"), QMessageBox::RejectRole);
        box.setDefaultButton(keep);
        box.setEscapeButton(keep);
        box.exec();
        return box.clickedButton() == drop;
    });
    connect(board, &BoardWidget::documentWanted, this, &BoardForm::askForDocument);
    ui->verticalLayout->addWidget(board);

    // The strip of pages and the toolbar float over the board, outside the
    // layout: the board keeps the whole window.
    strip_ = new PageStrip(board, this);
    pagesAction_ = new QAction(tr("Pages"), this);
    pagesAction_->setObjectName("pages");
    pagesAction_->setCheckable(true);
    connect(pagesAction_, &QAction::toggled, strip_, &QWidget::setVisible);
    connect(board, &BoardWidget::documentOpened, this, [this](int count) {
        if (count > 1)
            pagesAction_->setChecked(true);
    });
    new BoardToolbar(board, this, pagesAction_);
    documentFolder_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!QFileInfo(documentFolder_).isDir())
        documentFolder_ = QDir::homePath();
}

BoardForm::~BoardForm()
{
    // The widget goes with the window (it is a child); no pointer to it stays.
    if (boardWidget != nullptr && boardWidget->parent() == this)
        boardWidget = nullptr;
    delete ui;
}

QFileDialog* BoardForm::documentDialog() const
{
    return dialog_;
}

QMessageBox* BoardForm::saveTroubleBox() const
{
    return saveBox_;
}

void BoardForm::showMessage(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tavlo"), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);  // a message box is modal by default: drawing goes on
    box->show();
}

// One box for as long as saving fails: each failed try brings the newest
// reason into it; it closes when a save succeeds again.
void BoardForm::showSaveTrouble(const QString& text)
{
    if (saveBox_ == nullptr) {
        saveBox_ = new QMessageBox(QMessageBox::Critical, QStringLiteral("Tavlo"), text, QMessageBox::Ok, this);
        saveBox_->setAttribute(Qt::WA_DeleteOnClose);
        saveBox_->setWindowModality(Qt::NonModal);
        connect(saveBox_, &QObject::destroyed, this, [this] { saveBox_ = nullptr; });
        saveBox_->show();
    } else if (saveBox_->text() != text) {
        saveBox_->setText(text);
    }
}

void BoardForm::askForDocument()
{
    if (dialog_ != nullptr) {
        dialog_->raise();
        return;
    }
    // Not the platform's dialog: Qt's own works by touch on every desktop,
    // and does not block the board.
    dialog_ = new QFileDialog(this, tr("Open a PDF or picture to write on"), documentFolder_,
                              tr("PDF and pictures (*.pdf *.png *.jpg *.jpeg *.bmp *.gif *.webp *.tif *.tiff);;"
                                 "All files (*)"));
    dialog_->setObjectName("documentDialog");
    dialog_->setOption(QFileDialog::DontUseNativeDialog, true);
    dialog_->setFileMode(QFileDialog::ExistingFile);
    dialog_->setAcceptMode(QFileDialog::AcceptOpen);
    // Gone when it is answered either way.
    connect(dialog_, &QDialog::finished, this, [this] {
        dialog_->deleteLater();
        dialog_ = nullptr;
    });
    connect(dialog_, &QFileDialog::fileSelected, this, [this](const QString& file) {
        documentFolder_ = QFileInfo(file).absolutePath();
        if (boardWidget != nullptr)
            boardWidget->openDocument(file);
    });
    dialog_->open();
}

void BoardForm::closeEvent(QCloseEvent* event)
{
    // Closing only hides the window: the form and the board stay.
    Q_UNUSED(event);
}
