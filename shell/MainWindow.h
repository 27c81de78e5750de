#ifndef TAVLO_MAINWINDOW_H
#define TAVLO_MAINWINDOW_H

#include <QMainWindow>
#include <QPixmap>
#include <QTimer>
#include <QUdpSocket>
#include <QVBoxLayout>
#include <memory>

class CommandTrust;
class ViewerControl;

QT_BEGIN_NAMESPACE
namespace Ui {
class MainWindow;
}
QT_END_NAMESPACE

// The start-up splash. It shows the start-up picture, hides itself on the
// third tick of the announcement timer and then keeps the terminal's work
// going: configuration, classroom messaging, screen sharing and the viewer.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Throws std::runtime_error ("getcwd FAILED", or the configuration
    // store's error) before any window is shown. configDir names the folder
    // whose team.bin is read and never written (the installed /etc/tavlo);
    // empty: the working directory's, written with defaults when missing.
    explicit MainWindow(QWidget* parent = nullptr, const QString& configDir = QString());
    ~MainWindow() override;

    // GUI thread: the announcement timer's tick.
    void onSendTimer();
    // GUI thread: the classroom socket has datagrams.
    void onUdpReceived();
    // Opens the whiteboard window.
    void startBtnClick();

protected:
    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    // (Re)binds the classroom socket to port 55555; says when it cannot.
    void bindClassroomPort();

    Ui::MainWindow* ui;
    QPixmap* bkg = nullptr;
    QVBoxLayout* layout = nullptr;
    QUdpSocket* udpSocket = nullptr;
    QTimer* sendTimer = nullptr;
    // Shows, switches and stops the stream viewer; child of the window.
    ViewerControl* viewers = nullptr;
    // Which datagrams are obeyed (all, or the signed ones), and the nonce.
    std::unique_ptr<CommandTrust> trust;
    // Another program held port 55555 at the last try: each tick tries again.
    bool portTaken = false;
};

// The close-button pictures, one row of normal, hover, pressed.
extern QPixmap* icons[1][3];

#endif
