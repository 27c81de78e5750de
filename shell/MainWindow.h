#ifndef TAVLO_MAINWINDOW_H
#define TAVLO_MAINWINDOW_H

#include <QMainWindow>
#include <QPixmap>
#include <QTimer>
#include <QUdpSocket>
#include <QVBoxLayout>

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
    // store's error) before any window is shown.
    explicit MainWindow(QWidget* parent = nullptr);
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
    Ui::MainWindow* ui;
    QPixmap* bkg = nullptr;
    QVBoxLayout* layout = nullptr;
    QUdpSocket* udpSocket = nullptr;
    QTimer* sendTimer = nullptr;
    // Shows, switches and stops the stream viewer; child of the window.
    ViewerControl* viewers = nullptr;
};

// The close-button pictures, one row of normal, hover, pressed.
extern QPixmap* icons[1][3];

#endif
