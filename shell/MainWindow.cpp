#include "MainWindow.h"

#include "BoardForm.h"
#include "Classroom.h"
#include "ClassroomPort.h"
#include "CommandTrust.h"
#include "HostCommand.h"
#include "LockCard.h"
#include "QServerThread.h"
#include "QSysConfig.h"
#include "StreamAddress.h"
#include "Utils.h"
#include "ViewerControl.h"
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

MainWindow::MainWindow(QWidget* parent, const QString& configDir) : QMainWindow(nullptr), ui(new Ui::MainWindow)
{
    Q_UNUSED(parent);
    if (!icons[0][0]) {  // loaded once; they live until the process ends
        icons[0][0] = new QPixmap(QString::fromUtf8(":/右上/关闭_默认.png"));
        icons[0][1] = new QPixmap(QString::fromUtf8(":/右上/关闭_经过.png"));
        icons[0][2] = new QPixmap(QString::fromUtf8(":/右上/关闭_点击.png"));
    }
    ui->setupUi(this);

    const QSize screen = QGuiApplication::primaryScreen()->size();
    const int W = screen.width(), H = screen.height();
    move(W / 8, H / 8);
    setFixedSize(W * 3 / 4, H * 3 / 4);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    bkg = new QPixmap(QString::fromUtf8(":/res/启动页面.png"));

    char cwd[1024];
    if (configDir.isEmpty() && getcwd(cwd, sizeof cwd) == nullptr) {
        delete ui;
        ui = nullptr;
        throw std::runtime_error("getcwd FAILED");
    }
    try {
        if (configDir.isEmpty())
            SysConfig = new QSysConfig(this, QString::fromLocal8Bit(cwd) + "/team.bin");
        else
            SysConfig = new QSysConfig(this, configDir + "/team.bin", QSysConfig::MissingFile::Fail);
    } catch (...) {
        delete ui;
        ui = nullptr;
        throw;
    }

    trust = std::make_unique<CommandTrust>(SysConfig->HostKeys, SysConfig->TeamNum, Utils::clocktime(ms));
    std::printf("%s\n", trust->startLine().toUtf8().constData());
    std::fflush(stdout);

    viewers = new ViewerControl(this);
    lockCard = new LockCard(this);
    udpSocket = new QUdpSocket(this);
    bindClassroomPort();
    connect(udpSocket, &QUdpSocket::readyRead, this, &MainWindow::onUdpReceived);
    sendTimer = new QTimer(this);
    connect(sendTimer, &QTimer::timeout, this, &MainWindow::onSendTimer);
    sendTimer->start(1000);
}

// The classroom host may run on this same computer, bound to the port on
// its own address; no other user may take the port over (ClassroomPort.h).
// Another program that holds it already keeps the commands from arriving:
// said once, and tried again on every tick. Announcements go out anyway,
// from a port the system chooses.
void MainWindow::bindClassroomPort()
{
    QString error;
    udpSocket->abort();
    if (ClassroomPort::bind(*udpSocket, QHostAddress::Any, Classroom::CLASSROOM_PORT, &error)) {
        if (portTaken)
            std::printf("Classroom port %u is free again: commands arrive\n", Classroom::CLASSROOM_PORT);
        portTaken = false;
    } else {
        if (!portTaken)
            std::printf("Classroom port %u is taken (%s): no commands arrive until it is free\n",
                        Classroom::CLASSROOM_PORT, error.toUtf8().constData());
        portTaken = true;
    }
    std::fflush(stdout);
}

MainWindow::~MainWindow()
{
    delete ui;
    delete bkg;
    // The viewer must have ended before the base class destroys the
    // children: the only wait for a viewer thread.
    delete viewers;
    viewers = nullptr;
    // Then screen sharing: a viewer may be showing this terminal's own stream.
    QServerThread::Stop();
}

void MainWindow::onSendTimer()
{
    static int cnt = 0;
    ++cnt;
    if (cnt == 3)
        hide();
    QServerThread::Start(nullptr, SysConfig->TeamNum);
    if (portTaken)
        bindClassroomPort();

    // A terminal that trusts a key also announces its nonce, which signed
    // commands must carry; without a key the text is the classroom's as ever.
    const QByteArray nonce = trust->nonce(Utils::clocktime(ms)).toLatin1();
    const QByteArray nonceField = nonce.isEmpty() ? QByteArray() : ",\"nonce\":\"" + nonce + "\"";
    char text[256];
    std::snprintf(text, sizeof text, "{ \"messageId\":%d,\"id\":%d, \"livePort\":%d,\"systemType\":%d%s }",
                  Classroom::MSG_ANNOUNCE, static_cast<int>(SysConfig->TeamNum), Classroom::LIVE_PORT,
                  Classroom::SYSTEM_TYPE_TERMINAL, nonceField.constData());
    std::printf("SendTo: %s\n", SysConfig->RoomIp.toUtf8().constData());
    std::fflush(stdout);
    // A literal address only: QHostAddress does no name lookup. A failed send
    // is silent; the next tick sends again. An address that is no literal is
    // not sent to at all: Qt would send to 0.0.0.0, that is to this terminal,
    // whose own announcement then stops its viewer every second.
    if (const auto host = StreamAddress::parse(SysConfig->RoomIp))
        udpSocket->writeDatagram(text, static_cast<qint64>(std::strlen(text)), *host, Classroom::CLASSROOM_PORT);
}

void MainWindow::onUdpReceived()
{
    while (udpSocket->hasPendingDatagrams()) {
        const qint64 size = udpSocket->pendingDatagramSize();
        QByteArray data(static_cast<int>(size > 0 ? size : 0), '\0');
        const qint64 got = udpSocket->readDatagram(data.data(), data.size());
        if (got < 0)
            continue;
        data.truncate(static_cast<int>(got));
        // With a key, only a signed command for this group goes on, as the
        // command it carries; everything else is ignored with a line.
        const std::optional<QByteArray> command = trust->admit(data, Utils::clocktime(ms));
        if (!command)
            continue;

        // Only what trust let through is decoded.
        const HostCommand decoded = HostCommand::decode(*command, SysConfig->TeamNum, SysConfig->RoomIp);
        switch (decoded.action) {
        case HostCommand::Action::Ignore:
            break;
        case HostCommand::Action::Show:
            viewers->show(decoded.url, decoded.multicast);
            break;
        case HostCommand::Action::Stop:
            if (decoded.refused) {
                // Pinned by tests.
                std::printf("Show refused: %s\n", decoded.reason.toUtf8().constData());
                std::fflush(stdout);
            }
            viewers->stop();
            break;
        case HostCommand::Action::Lock:
            // Over the desktop and whatever is shown; a show that comes
            // later stands over the card, the input still taken.
            lockCard->lock(decoded.text);
            break;
        case HostCommand::Action::Unlock:
            lockCard->unlock();
            break;
        }
    }
}

// The whiteboard window opened last, or null. Not owning: the form lives
// until the program ends.
static BoardForm* boardWin = nullptr;

void MainWindow::startBtnClick()
{
    // One board state per process: a second opening shows the window that
    // exists instead of building a second board widget on the same state.
    if (boardWin == nullptr) {
        boardWin = new BoardForm(nullptr);
        boardWin->setWindowFlags(Qt::Window);
    }
    boardWin->show();
    boardWin->raise();
    boardWin->activateWindow();
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
