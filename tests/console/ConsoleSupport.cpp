#include "ConsoleSupport.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QThread>
#include <unistd.h>

namespace csupport {

QString consolePath() { return tsupport::buildDir() + "/tavlo-console"; }
QString announcerPath() { return tsupport::buildDir() + "/tavlo-test-announcer"; }

static bool sh(const QString& command)
{
    int code = -1;
    tsupport::run("sh", {"-c", command}, QProcessEnvironment::systemEnvironment(), tsupport::SLOW_MS, &code);
    return code == 0;
}

static QString netns(const QString& pid)
{
    char buf[128];
    const ssize_t n = readlink(("/proc/" + pid + "/ns/net").toLocal8Bit().constData(), buf, sizeof buf - 1);
    return n > 0 ? QString::fromLocal8Bit(buf, static_cast<int>(n)) : QString();
}

// ---------------------------------------------------------------- GroupNet

GroupNet::GroupNet(int k) : k_(k)
{
    holder_.start("unshare", {"-n", "sleep", "100000"});
    if (!holder_.waitForStarted(tsupport::SLOW_MS))
        return;
    const QString pid = QString::number(holder_.processId());
    const QString own = netns("self");
    QDeadlineTimer unshared(tsupport::SLOW_MS);
    while (netns(pid) == own && !unshared.hasExpired())
        QThread::msleep(20);
    if (netns(pid) == own)
        return;
    // Names that begin with "tvpeer", which the viewer support's check for a
    // private namespace accepts.
    const QString here = QString("tvpeerc%1").arg(k), there = QString("tvpeerg%1").arg(k);
    const QString in = "nsenter -t " + pid + " -n ";
    const bool ok = sh("ip link add " + here + " type veth peer name " + there + " netns " + pid) &&
                    sh("ip addr add " + hostAddress() + "/24 dev " + here + " && ip link set " + here + " up") &&
                    sh(in + "ip link set lo up") &&
                    sh(in + "ip addr add " + groupAddress() + "/24 dev " + there) &&
                    sh(in + "ip link set " + there + " up") &&
                    sh(in + "ip route add default via " + hostAddress()) &&
                    sh("sysctl -q -w net.ipv4.ip_forward=1");
    bool up = false;
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (ok && !(up = sh("ip link show " + here + " | grep -q 'state UP'")) && !deadline.hasExpired())
        QThread::msleep(50);
    ok_ = ok && up;
}

GroupNet::~GroupNet()
{
    sh(QString("ip link del tvpeerc%1 2>/dev/null").arg(k_));
    if (holder_.state() != QProcess::NotRunning) {
        holder_.kill();
        holder_.waitForFinished(tsupport::SLOW_MS);
    }
}

QStringList GroupNet::enter(const QString& program) const
{
    return {"-t", QString::number(pid()), "-n", program};
}

// ---------------------------------------------------------------- ConsoleProcess

ConsoleProcess::ConsoleProcess(const QProcessEnvironment& env, const QStringList& args)
{
    // The console keeps its classroom key in the configuration folder: a
    // folder of its own unless the caller names one, never the user's.
    QProcessEnvironment e = env;
    if (!e.contains("XDG_CONFIG_HOME"))
        e.insert("XDG_CONFIG_HOME", logs_.filePath("config"));
    proc_.setProcessEnvironment(e);
    proc_.setStandardOutputFile(logs_.filePath("stdout"));
    proc_.setStandardErrorFile(logs_.filePath("stderr"));
    proc_.start(consolePath(), QStringList{"--stdin"} + args);
    started_ = proc_.waitForStarted(tsupport::SLOW_MS);
    outFile_.setFileName(logs_.filePath("stdout"));
    outFile_.open(QIODevice::ReadOnly);
}

ConsoleProcess::~ConsoleProcess()
{
    if (proc_.state() != QProcess::NotRunning) {
        proc_.kill();
        proc_.waitForFinished(tsupport::SLOW_MS);
    }
}

QByteArray ConsoleProcess::out()
{
    if (outFile_.isOpen())
        out_ += outFile_.readAll();
    return out_;
}

QByteArray ConsoleProcess::err()
{
    QFile f(logs_.filePath("stderr"));
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

bool ConsoleProcess::waitForOutput(const QString& text, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!out().contains(text.toUtf8())) {
        if (deadline.hasExpired() || !running())
            return out().contains(text.toUtf8());
        proc_.waitForFinished(50);
    }
    return true;
}

QStringList ConsoleProcess::ask(const QString& line, int timeoutMs)
{
    const int from = out().size();
    proc_.write((line + "\n").toUtf8());
    proc_.waitForBytesWritten(timeoutMs);
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const QList<QByteArray> lines = out().mid(from).split('\n');
        QStringList got;
        // The last piece has no newline yet: not a whole line.
        for (int i = 0; i + 1 < lines.size(); ++i) {
            const QString l = QString::fromUtf8(lines[i]);
            got << l;
            for (const char* end : {"sent", "error", "end", "saved", "stream ", "named "})
                if (l.startsWith(end))
                    return got;
        }
        if (deadline.hasExpired() || !running())
            return {};
        proc_.waitForFinished(20);
    }
}

QStringList ConsoleProcess::rows(int timeoutMs)
{
    QStringList out;
    for (const QString& l : ask("list", timeoutMs))
        if (l.startsWith("row "))
            out << l;
    return out;
}

}  // namespace csupport
