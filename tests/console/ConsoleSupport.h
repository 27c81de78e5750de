#ifndef TAVLO_CONSOLESUPPORT_H
#define TAVLO_CONSOLESUPPORT_H

// Helpers for the console's tests: one network namespace per group terminal,
// and the console as a process driven through its standard input.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace csupport {

QString consolePath();  // the built tavlo-console
QString announcerPath();  // the built tavlo-test-announcer

// A network namespace of its own for group k (1..250), joined to the
// current namespace by a veth pair: this side is 10.214.k.1/24 (the
// classroom host's address for the group), the other side 10.214.k.2/24
// with its default route through this side, which forwards between the
// groups. Only in a namespace the test owns (tests/run-isolated).
class GroupNet {
public:
    explicit GroupNet(int k);
    ~GroupNet();
    GroupNet(const GroupNet&) = delete;
    GroupNet& operator=(const GroupNet&) = delete;

    bool ok() const { return ok_; }
    qint64 pid() const { return holder_.processId(); }  // a process inside it
    QString hostAddress() const { return QString("10.214.%1.1").arg(k_); }
    QString groupAddress() const { return QString("10.214.%1.2").arg(k_); }
    // nsenter arguments that run program inside the namespace.
    QStringList enter(const QString& program) const;

private:
    QProcess holder_;
    int k_;
    bool ok_ = false;
};

// A running tavlo-console --stdin. Its stdout goes to a file (never a full
// pipe); commands go to its stdin. Its classroom key is made in a folder of
// its own unless env names one (XDG_CONFIG_HOME).
class ConsoleProcess {
public:
    ConsoleProcess(const QProcessEnvironment& env, const QStringList& args = {});
    ~ConsoleProcess();  // kills the process if it still runs
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    bool started() const { return started_; }
    bool running() const { return proc_.state() != QProcess::NotRunning; }
    qint64 pid() const { return proc_.processId(); }
    QByteArray out();
    QByteArray err();
    // Waits until stdout contains text.
    bool waitForOutput(const QString& text, int timeoutMs);
    // Writes one command line and returns every output line after it up to
    // and including the first that starts with one of the answers' starts
    // ("sent", "error", "end", "saved", "stream ", "named "); empty on time-out.
    QStringList ask(const QString& line, int timeoutMs);
    // The "row ..." lines of a "list" answer.
    QStringList rows(int timeoutMs);

private:
    QTemporaryDir logs_;
    QFile outFile_;
    QProcess proc_;
    QByteArray out_;
    bool started_ = false;
};

}  // namespace csupport

#endif
