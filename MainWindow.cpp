#include "MainWindow.h"

#include "QSysConfig.h"
#include "ui_MainWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

QPixmap* icons[1][3] = {{nullptr, nullptr, nullptr}};

// The classroom port: announcements go to it on the host, commands arrive on it.
static const quint16 CLASSROOM_PORT = 55555;
// The port of this terminal's own RTSP server, announced as "livePort".
static const int LIVE_PORT = 5000;

MainWindow::MainWindow(QWidget* parent) : QMainWindow(nullptr), ui(new Ui::MainWindow)
{
    Q_UNUSED(parent);
    icons[0][0] = new QPixmap(QString::fromUtf8(":/右上/关闭_默认.png"));
    icons[0][1] = new QPixmap(QString::fromUtf8(":/右上/关闭_经过.png"));
    icons[0][2] = new QPixmap(QString::fromUtf8(":/右上/关闭_点击.png"));
    ui->setupUi(this);

    const QSize screen = QGuiApplication::primaryScreen()->size();
    const int W = screen.width(), H = screen.height();
    move(W / 8, H / 8);
    setFixedSize(W * 3 / 4, H * 3 / 4);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    bkg = new QPixmap(QString::fromUtf8(":/res/启动页面.png"));

    char cwd[1024];
    if (getcwd(cwd, sizeof cwd) == nullptr) {
        delete ui;
        ui = nullptr;
        throw std::runtime_error("getcwd FAILED");
    }
    try {
        SysConfig = new QSysConfig(this, QString::fromLocal8Bit(cwd) + "/team.bin");
    } catch (...) {
        delete ui;
        ui = nullptr;
        throw;
    }

    udpSocket = new QUdpSocket(this);
    udpSocket->bind(QHostAddress::Any, CLASSROOM_PORT);
    connect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::onUdpReceived);
    sendTimer = new QTimer(this);
    connect(sendTimer, &QTimer::timeout, this, &MainWindow::onSendTimer);
    sendTimer->start(1000);
}

MainWindow::~MainWindow()
{
    delete ui;
    delete bkg;
    // Screen sharing and a running viewer are stopped here (see their owners).
}

void MainWindow::onSendTimer()
{
    static int cnt = 0;
    ++cnt;
    if (cnt == 3)
        hide();

    char text[256];
    std::snprintf(text, sizeof text, "{ \"messageId\":0,\"id\":%d, \"livePort\":%d,\"systemType\":1 }",
                  static_cast<int>(SysConfig->TeamNum), LIVE_PORT);
    std::printf("SendTo: %s\n", SysConfig->RoomIp.toUtf8().constData());
    std::fflush(stdout);
    // A literal address only: QHostAddress does no name lookup. A failed send
    // is silent; the next tick sends again.
    const QHostAddress host(SysConfig->RoomIp);
    udpSocket->writeDatagram(text, static_cast<qint64>(std::strlen(text)), host, CLASSROOM_PORT);
}

void MainWindow::onUdpReceived()
{
}

void MainWindow::startBtnClick()
{
}

bool MainWindow::event(QEvent* e)
{
    switch (e->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        return false;
    default:
        return QWidget::event(e);
    }
}

void MainWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(QRect(0, 0, width(), height()), *bkg);
    painter.end();
}
