// tavlo-host: the classroom host's side of the group terminals' messaging.
//
//   tavlo-host listen [--bind ADDR] [--count N] [--timeout SECONDS]
//       prints one line per announcement received on UDP port 55555:
//       "group G livePort P from ADDR:PORT"
//       (with " nonce N" when the terminal obeys only signed commands)
//   tavlo-host show --to ADDR --group N [--ip A] [--multicast] [--bind ADDR] [--key FILE [--timeout SECONDS]]
//       asks the terminal at ADDR to show the host's screen (group 0) or the
//       screen of group N served at address A; with --multicast, by
//       multicast first (the terminal falls back on TCP by itself)
//   tavlo-host stop --to ADDR [--bind ADDR] [--key FILE [--timeout SECONDS]]
//       asks the terminal at ADDR to stop showing a stream
//
// With --key FILE (a classroom key file, as the console exports it) the
// command is signed for the terminal at ADDR: the tool listens on port 55555
// of --bind (default every address) for ADDR's next announcement, at most
// --timeout seconds (default 5), and signs the command "to" the group it
// announces, under its nonce. A terminal that announces no nonce obeys plain
// commands and gets the plain one.
//
// Exit status: 0 on success, 1 when the network refuses (bind or send), no
// announcement comes, or the key file cannot be used; 2 for bad arguments.
// Errors go to stderr. --help and --version as every program.
#include "Announcement.h"
#include "Classroom.h"
#include "ClassroomKey.h"
#include "ClassroomPort.h"
#include "CommandLine.h"
#include "Envelope.h"
#include "StreamAddress.h"
#include "Utils.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QStringList>
#include <QUdpSocket>
#include <cmath>
#include <cstdio>
#include <optional>

namespace {

using Classroom::CLASSROOM_PORT;

CommandLine commandLine()
{
    CommandLine cl("tavlo-host", "The classroom host's side of the group terminals' messaging (UDP port 55555): "
                                 "hears their\nannouncements, tells them what to show.");
    cl.addUsage("listen [--bind ADDR] [--count N] [--timeout SECONDS]");
    cl.addUsage("show --to ADDR --group N [--ip A] [--multicast] [--bind ADDR] [--key FILE [--timeout SECONDS]]");
    cl.addUsage("stop --to ADDR [--bind ADDR] [--key FILE [--timeout SECONDS]]");
    const auto value = CommandLine::RequiredValue;
    cl.addOption("--bind", "this computer's address to send from or listen on (default: every address)", "ADDR", value);
    cl.addOption("--count", "listen: end after N announcements (status 1 if the time-out comes first)", "N", value);
    cl.addOption("--timeout", "listen: end after SECONDS; show, stop with --key: wait at most SECONDS (default 5) "
                              "for the terminal's announcement", "SECONDS", value);
    cl.addOption("--to", "show, stop: the terminal's address", "ADDR", value);
    cl.addOption("--group", "show: the group whose screen is shown (0: the host's own)", "N", value);
    cl.addOption("--ip", "show: the literal IPv4 or IPv6 address that serves group N's screen (needed unless N is 0)",
                 "A", value);
    cl.addOption("--multicast", "show: take the stream by multicast first (\"multicast\":true; the terminal falls "
                                "back on TCP where none arrives)");
    cl.addOption("--key", "show, stop: sign the command with the classroom key pair in FILE (mode 0600), for the "
                          "nonce the terminal announces to --bind", "FILE", value);
    return cl;
}

struct UsageError {
    QString text;
};

[[noreturn]] void usage(const QString& text)
{
    throw UsageError{text};
}

// "--key value" pairs; only the keys in allowed are accepted, each once.
QMap<QString, QString> parseOptions(const QStringList& args, const QStringList& allowed,
                                    const QStringList& flags = {})
{
    QMap<QString, QString> opts;
    for (int i = 0; i < args.size(); ++i) {
        const QString& key = args[i];
        const bool flag = key.startsWith("--") && flags.contains(key.mid(2));
        if (!key.startsWith("--") || !(allowed.contains(key.mid(2)) || flag))
            usage(QString("unknown argument '%1'").arg(key));
        if (!flag && i + 1 >= args.size())
            usage(QString("%1 needs a value").arg(key));
        if (opts.contains(key.mid(2)))
            usage(QString("%1 given twice").arg(key));
        opts.insert(key.mid(2), flag ? QString() : args[++i]);
    }
    return opts;
}

// The terminal's own address rule (StreamAddress): what the tool sends is
// what a terminal accepts. A destination or a stream address must be
// unicast; an address to bind to may be the unspecified one.
QHostAddress parseAddress(const QString& option, const QString& text, bool toBind = false)
{
    QString why;
    const auto a = toBind ? StreamAddress::parseLiteral(text, &why) : StreamAddress::parse(text, &why);
    if (!a)
        usage(QString("--%1: '%2' %3").arg(option, text, why));
    return *a;
}

qint64 parseNumber(const QString& option, const QString& text, qint64 min, qint64 max)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < min || v > max)
        usage(QString("--%1: '%2' is not a number from %3 to %4").arg(option, text).arg(min).arg(max));
    return v;
}

// A socket for sending, bound to --bind if given.
int openSender(QUdpSocket& sock, const QMap<QString, QString>& opts)
{
    const QHostAddress bindAddr = opts.contains("bind") ? parseAddress("bind", opts["bind"], true) : QHostAddress();
    if (!bindAddr.isNull() && !sock.bind(bindAddr, 0)) {
        std::fprintf(stderr, "tavlo-host: cannot bind to %s: %s\n", qPrintable(bindAddr.toString()),
                     qPrintable(sock.errorString()));
        return 1;
    }
    return 0;
}

// The address as the classroom compares senders: an IPv4 address that came
// through a dual-stack socket is the IPv4 address.
QHostAddress plain(const QHostAddress& a)
{
    bool v4 = false;
    const quint32 ip4 = a.toIPv4Address(&v4);
    return v4 ? QHostAddress(ip4) : a;
}

// Waits on sock (bound to port 55555) for the next announcement from to.
std::optional<Announcement> awaitAnnouncement(QUdpSocket& sock, const QHostAddress& to, qint64 timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (!sock.hasPendingDatagrams() &&
            !sock.waitForReadyRead(static_cast<int>(std::min<qint64>(timeoutMs - clock.elapsed(), 1000))))
            continue;
        while (sock.hasPendingDatagrams()) {
            QByteArray data(static_cast<int>(std::max<qint64>(sock.pendingDatagramSize(), 0)), '\0');
            QHostAddress from;
            const qint64 got = sock.readDatagram(data.data(), data.size(), &from);
            if (got < 0)
                continue;
            data.truncate(static_cast<int>(got));
            const std::optional<Announcement> a = Announcement::parse(data);
            if (a && plain(from) == plain(to))
                return a;
        }
    }
    return std::nullopt;
}

int sendCommand(const QMap<QString, QString>& opts, const QJsonObject& command)
{
    if (!opts.contains("to"))
        usage("--to ADDR is required");
    const QHostAddress to = parseAddress("to", opts["to"]);
    if (opts.contains("timeout") && !opts.contains("key"))
        usage("--timeout is for --key (how long to wait for the terminal's announcement)");
    const qint64 timeoutMs = opts.contains("timeout") ? parseNumber("timeout", opts["timeout"], 1, 3600) * 1000 : 5000;
    QUdpSocket sock;
    QByteArray payload = QJsonDocument(command).toJson(QJsonDocument::Compact);
    QByteArray shown = payload;
    if (opts.contains("key")) {
        QString error;
        const std::optional<ClassroomKey> key = ClassroomKey::load(opts["key"], true, &error);
        if (!key) {
            std::fprintf(stderr, "tavlo-host: cannot use the key: %s\n", qPrintable(error));
            return 1;
        }
        const QHostAddress bindAddr =
            opts.contains("bind") ? parseAddress("bind", opts["bind"], true) : QHostAddress(QHostAddress::Any);
        if (!ClassroomPort::bind(sock, bindAddr, CLASSROOM_PORT, &error)) {
            std::fprintf(stderr, "tavlo-host: cannot listen on %s port %u: %s\n", qPrintable(bindAddr.toString()),
                         CLASSROOM_PORT, qPrintable(error));
            return 1;
        }
        const std::optional<Announcement> a = awaitAnnouncement(sock, to, timeoutMs);
        if (!a) {
            std::fprintf(stderr, "tavlo-host: no announcement from %s within %lld s: nothing to sign for\n",
                         qPrintable(to.toString()), static_cast<long long>(timeoutMs / 1000));
            return 1;
        }
        if (a->nonce.isEmpty()) {
            std::printf("the terminal at %s (group %d) takes plain commands\n", qPrintable(to.toString()), a->group);
        } else {
            shown = Envelope::address(command, a->group, a->nonce, Envelope::nextSeq(0));
            payload = Envelope::seal(shown, *key);
            shown = "signed " + shown;
        }
    } else if (int rc = openSender(sock, opts)) {
        return rc;
    }
    if (sock.writeDatagram(payload, to, CLASSROOM_PORT) != payload.size()) {
        std::fprintf(stderr, "tavlo-host: cannot send to %s: %s\n", qPrintable(to.toString()),
                     qPrintable(sock.errorString()));
        return 1;
    }
    std::printf("sent %s to %s:%u\n", shown.constData(), qPrintable(to.toString()), CLASSROOM_PORT);
    return 0;
}

int show(const QStringList& args)
{
    const auto opts = parseOptions(args, {"to", "group", "ip", "bind", "key", "timeout"}, {"multicast"});
    if (!opts.contains("group"))
        usage("--group N is required (0 = the host's own screen)");
    const qint64 group = parseNumber("group", opts["group"], 0, 2147483647);
    QJsonObject cmd{{"messageId", Classroom::MSG_SHOW}, {"groupId", static_cast<double>(group)}};
    if (opts.contains("ip")) {
        // Sent in the address's own plain form.
        cmd.insert("ip", parseAddress("ip", opts["ip"]).toString());
    } else if (group != 0) {
        usage("--ip A is required for a group other than 0 (the address that serves its screen)");
    }
    if (opts.contains("multicast"))
        cmd.insert("multicast", true);
    return sendCommand(opts, cmd);
}

int stop(const QStringList& args)
{
    return sendCommand(parseOptions(args, {"to", "bind", "key", "timeout"}),
                       QJsonObject{{"messageId", Classroom::MSG_STOP}});
}

int listen(const QStringList& args)
{
    const auto opts = parseOptions(args, {"bind", "count", "timeout"});
    const QHostAddress bindAddr =
        opts.contains("bind") ? parseAddress("bind", opts["bind"], true) : QHostAddress(QHostAddress::Any);
    const qint64 count = opts.contains("count") ? parseNumber("count", opts["count"], 1, 1000000000) : 0;
    const qint64 timeoutMs = opts.contains("timeout") ? parseNumber("timeout", opts["timeout"], 1, 86400) * 1000 : 0;

    QUdpSocket sock;
    // Shared with a terminal of the same user on one machine (ClassroomPort.h).
    QString error;
    if (!ClassroomPort::bind(sock, bindAddr, CLASSROOM_PORT, &error)) {
        std::fprintf(stderr, "tavlo-host: cannot listen on %s port %u: %s\n", qPrintable(bindAddr.toString()),
                     CLASSROOM_PORT, qPrintable(error));
        return 1;
    }
    std::printf("listening on %s:%u\n", qPrintable(bindAddr.toString()), CLASSROOM_PORT);
    std::fflush(stdout);

    QElapsedTimer clock;
    clock.start();
    qint64 seen = 0;
    for (;;) {
        int wait = 1000;
        if (timeoutMs) {
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0)
                break;
            wait = static_cast<int>(std::min<qint64>(left, 1000));
        }
        if (!sock.hasPendingDatagrams() && !sock.waitForReadyRead(wait))
            continue;
        while (sock.hasPendingDatagrams()) {
            QByteArray data(static_cast<int>(std::max<qint64>(sock.pendingDatagramSize(), 0)), '\0');
            QHostAddress from;
            quint16 port = 0;
            const qint64 got = sock.readDatagram(data.data(), data.size(), &from, &port);
            if (got < 0)
                continue;
            data.truncate(static_cast<int>(got));
            const std::optional<Announcement> a = Announcement::parse(data);
            if (!a) {
                std::printf("ignored %d bytes from %s:%u\n", static_cast<int>(got), qPrintable(plain(from).toString()),
                            port);
            } else {
                std::printf("group %d livePort %d from %s:%u%s\n", a->group, a->livePort,
                            qPrintable(plain(from).toString()), port,
                            a->nonce.isEmpty() ? "" : qPrintable(" nonce " + a->nonce));
                ++seen;
            }
            std::fflush(stdout);
            if (count && seen >= count)
                return 0;
        }
    }
    if (count) {
        std::fprintf(stderr, "tavlo-host: %lld of %lld announcements before the time-out\n",
                     static_cast<long long>(seen), static_cast<long long>(count));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    const CommandLine cl = commandLine();
    if (cl.answerHelpOrVersion(argc, argv))
        return 0;
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    try {
        if (args.isEmpty())
            usage("no command given");
        const QString command = args.takeFirst();
        if (command == "listen")
            return listen(args);
        if (command == "show")
            return show(args);
        if (command == "stop")
            return stop(args);
        usage(QString("unknown command '%1'").arg(command));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tavlo-host: %s\n%s", qPrintable(e.text), qPrintable(cl.usageText()));
        return 2;
    }
}
