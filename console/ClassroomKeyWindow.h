#ifndef TAVLO_CLASSROOMKEYWINDOW_H
#define TAVLO_CLASSROOMKEYWINDOW_H

#include <QDialog>
#include <QString>

class Console;
class QLabel;
class QLineEdit;

// The "Classroom key" window: the console's public key in base64 (what
// every terminal's team.bin names as "hostKey"), its fingerprint to compare
// by eye, the file that holds the key pair, and the key pair's export (to
// another teacher's computer, or for tavlo-host --key) and import. The
// buttons ask for a file and call exportTo / importFrom. GUI thread.
class ClassroomKeyWindow : public QDialog {
    Q_OBJECT
public:
    explicit ClassroomKeyWindow(Console* console, QWidget* parent = nullptr);

    // Writes the key pair to path (mode 0600). The error, or empty.
    QString exportTo(const QString& path);
    // Reads the key pair in path and makes it this console's key, kept in
    // the console's own key file from now on. The error, or empty (the old
    // key is kept on any error).
    QString importFrom(const QString& path);

private:
    void refresh();
    void onExport();
    void onImport();

    Console* console_;
    QLineEdit* publicKey_;
    QLabel* fingerprint_;
    QLabel* file_;
    QLabel* status_;
};

#endif
