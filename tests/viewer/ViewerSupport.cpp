#include "ViewerSupport.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace vsupport {

QString peerPath() { return tsupport::buildDir() + "/tavlo-test-rtsp-peer"; }
QString hostToolPath() { return tsupport::buildDir() + "/tavlo-host"; }

// ---------------------------------------------------------------- Peer

Peer::Peer(const QStringList& args, qint64 netnsPid)
{
    proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    if (netnsPid)
        proc_.start("nsenter", QStringList{"-t", QString::number(netnsPid), "-n", peerPath()} + args);
    else
        proc_.start(peerPath(), args);
    if (!proc_.waitForStarted(tsupport::SLOW_MS))
        return;
    ready_ = waitFor("ready", 1, tsupport::SLOW_MS);
}

Peer::~Peer()
{
    if (proc_.state() != QProcess::NotRunning) {
        proc_.kill();
        proc_.waitForFinished(tsupport::SLOW_MS);
    }
}

QByteArray Peer::out()
{
    // What the peer has written by now, not only what was read before.
    while (proc_.state() == QProcess::Running && proc_.waitForReadyRead(0))
        out_ += proc_.readAllStandardOutput();
    out_ += proc_.readAllStandardOutput();
    return out_;
}

int Peer::count(const QString& line)
{
    int n = 0;
    for (const QByteArray& l : out().split('\n'))
        n += l == line.toUtf8();
    return n;
}

bool Peer::waitFor(const QString& line, int n, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (count(line) < n) {
        if (deadline.hasExpired() || proc_.state() == QProcess::NotRunning)
            return count(line) >= n;
        proc_.waitForReadyRead(50);
    }
    return true;
}

// ---------------------------------------------------------------- StdoutCapture

StdoutCapture::StdoutCapture()
{
    path_ = QDir::tempPath() + QString("/tavlo-stdout-%1-%2").arg(getpid()).arg(reinterpret_cast<quintptr>(this));
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int fd = open(path_.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

StdoutCapture::~StdoutCapture()
{
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    QFile::remove(path_);
}

QByteArray StdoutCapture::text()
{
    std::fflush(stdout);
    QFile f(path_);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

}  // namespace vsupport
