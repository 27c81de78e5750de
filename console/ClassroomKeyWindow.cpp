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
    setWindowTitle(tr("Classroom key"));
    auto* v = new QVBoxLayout(this);
    auto* intro = new QLabel(tr("Terminals whose team.bin names this public key as \"hostKey\" obey only the "
                                "commands this console signs."),
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
    form->addRow(tr("Public key:"), publicKey_);
    form->addRow(tr("Fingerprint:"), fingerprint_);
    form->addRow(tr("Key pair file:"), file_);
    v->addLayout(form);
    status_ = new QLabel(this);
    status_->setWordWrap(true);
    v->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    auto* copy = new QPushButton(tr("Copy public key"), this);
    auto* exportButton = new QPushButton(tr("Export key pair…"), this);
    auto* importButton = new QPushButton(tr("Import key pair…"), this);
    auto* close = new QPushButton(tr("Close"), this);
    exportButton->setToolTip(tr("Save the key pair for another teacher's computer or for tavlo-host --key. "
                                "Whoever holds it can command every terminal that trusts this key."));
    importButton->setToolTip(tr("Use a key pair exported by another console, so both command the same terminals"));
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
    fingerprint_->setText(key ? key->publicKey().fingerprint() : tr("no key: commands cannot be signed"));
    file_->setText(console_->keyPath());
}

QString ClassroomKeyWindow::exportTo(const QString& path)
{
    QString error;
    if (!console_->key())
        error = tr("this console has no key");
    else if (!console_->key()->save(path, &error))
        error = tr("cannot export: %1").arg(error);
    status_->setText(error.isEmpty() ? tr("Exported to %1").arg(path) : error);
    return error;
}

QString ClassroomKeyWindow::importFrom(const QString& path)
{
    QString error;
    // Read as the teacher gave it (a USB stick may not keep modes); kept
    // from now on in the console's own file, private to its user.
    const std::optional<ClassroomKey> key = ClassroomKey::load(path, false, &error);
    if (!key) {
        error = tr("cannot import: %1").arg(error);
    } else if (!console_->keyPath().isEmpty() && !key->save(console_->keyPath(), &error)) {
        error = tr("cannot keep the imported key: %1").arg(error);
    } else {
        console_->setKey(*key, console_->keyPath());
        refresh();
    }
    status_->setText(error.isEmpty() ? tr("Imported from %1").arg(path) : error);
    return error;
}

void ClassroomKeyWindow::onExport()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Export the classroom key pair"),
                                                      QDir::home().filePath("classroom-key.json"));
    if (!path.isEmpty())
        exportTo(path);
}

void ClassroomKeyWindow::onImport()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Import a classroom key pair"), QDir::homePath());
    if (path.isEmpty())
        return;
    const QString old = console_->key() ? console_->key()->publicKey().fingerprint() : tr("none");
    const auto answer = QMessageBox::question(
        this, tr("Classroom key"),
        tr("Replace this console's key (fingerprint %1)? Terminals that trust only that key will ignore "
           "this console's commands until their team.bin names the new one.")
            .arg(old));
    if (answer == QMessageBox::Yes)
        importFrom(path);
}
