#include "ClassroomKeyWindow.h"

#include "Console.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

ClassroomKeyWindow::ClassroomKeyWindow(Console* console, QWidget* parent) : QDialog(parent), console_(console)
{
    setWindowTitle("Classroom key");
    auto* v = new QVBoxLayout(this);
    auto* intro = new QLabel("Terminals whose team.bin names this public key as \"hostKey\" obey only the "
                             "commands this console signs.",
                             this);
    intro->setWordWrap(true);
    v->addWidget(intro);
    auto* form = new QFormLayout;
    publicKey_ = new QLineEdit(this);
    publicKey_->setReadOnly(true);
    publicKey_->setMinimumWidth(420);
    fingerprint_ = new QLabel(this);
    fingerprint_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    file_ = new QLabel(this);
    file_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow("Public key:", publicKey_);
    form->addRow("Fingerprint:", fingerprint_);
    form->addRow("Key pair file:", file_);
    v->addLayout(form);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    v->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    auto* copy = new QPushButton("Copy public key", this);
    auto* exportButton = new QPushButton("Export key pair…", this);
    auto* importButton = new QPushButton("Import key pair…", this);
    auto* close = new QPushButton("Close", this);
    exportButton->setToolTip("Save the key pair for another teacher's computer or for tavlo-host --key. "
                             "Whoever holds it can command every terminal that trusts this key.");
    importButton->setToolTip("Use a key pair exported by another console, so both command the same terminals");
    buttons->addWidget(copy);
    buttons->addWidget(exportButton);
    buttons->addWidget(importButton);
    buttons->addStretch(1);
    buttons->addWidget(close);
    v->addLayout(buttons);

    connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(publicKey_->text()); });
    connect(exportButton, &QPushButton::clicked, this, &ClassroomKeyWindow::onExport);
    connect(importButton, &QPushButton::clicked, this, &ClassroomKeyWindow::onImport);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    refresh();
}

void ClassroomKeyWindow::refresh()
{
    const std::optional<ClassroomKey>& key = console_->key();
    publicKey_->setText(key ? key->publicKey().base64() : QString());
    fingerprint_->setText(key ? key->publicKey().fingerprint() : "no key: commands cannot be signed");
    file_->setText(console_->keyPath());
}

QString ClassroomKeyWindow::exportTo(const QString& path)
{
    QString error;
    if (!console_->key())
        error = "this console has no key";
    else if (!console_->key()->save(path, &error))
        error = "cannot export: " + error;
    status_->setText(error.isEmpty() ? "Exported to " + path : error);
    return error;
}

QString ClassroomKeyWindow::importFrom(const QString& path)
{
    QString error;
    // Read as the teacher gave it (a USB stick may not keep modes); kept
    // from now on in the console's own file, private to its user.
    const std::optional<ClassroomKey> key = ClassroomKey::load(path, false, &error);
    if (!key) {
        error = "cannot import: " + error;
    } else if (!console_->keyPath().isEmpty() && !key->save(console_->keyPath(), &error)) {
        error = "cannot keep the imported key: " + error;
    } else {
        console_->setKey(*key, console_->keyPath());
        refresh();
    }
    status_->setText(error.isEmpty() ? "Imported from " + path : error);
    return error;
}

void ClassroomKeyWindow::onExport()
{
    const QString path = QFileDialog::getSaveFileName(this, "Export the classroom key pair",
                                                      QDir::home().filePath("classroom-key.json"));
    if (!path.isEmpty())
        exportTo(path);
}

void ClassroomKeyWindow::onImport()
{
    const QString path = QFileDialog::getOpenFileName(this, "Import a classroom key pair", QDir::homePath());
    if (path.isEmpty())
        return;
    const QString old = console_->key() ? console_->key()->publicKey().fingerprint() : QString("none");
    const auto answer = QMessageBox::question(
        this, "Classroom key",
        QString("Replace this console's key (fingerprint %1)? Terminals that trust only that key will ignore "
                "this console's commands until their team.bin names the new one.")
            .arg(old));
    if (answer == QMessageBox::Yes)
        importFrom(path);
}
