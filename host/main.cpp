// tavlo-host: the classroom host's side of the group terminals' messaging.
//
//   tavlo-host listen [--bind ADDR] [--count N] [--timeout SECONDS]
//       prints one line per announcement received on UDP port 55555:
//       "group G livePort P from ADDR:PORT"
//   tavlo-host show --to ADDR --group N [--ip A] [--bind ADDR]
//       asks the terminal at ADDR to show the host's screen (group 0) or the
//       screen of group N served at address A
//   tavlo-host stop --to ADDR [--bind ADDR]
//       asks the terminal at ADDR to stop showing a stream
//
// Exit status: 0 on success, 1 when the network refuses (bind or send), 2 for
// bad arguments. Errors go to stderr.
#include "Classroom.h"
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

namespace {

using Classroom::CLASSROOM_PORT;

const char* const USAGE =
    "usage: tavlo-host listen [--bind ADDR] [--count N] [--timeout SECONDS]\n"
    "       tavlo-host show --to ADDR --group N [--ip A] [--bind ADDR]\n"
    "       tavlo-host stop --to ADDR [--bind ADDR]\n";

struct UsageError {
    QString text;
};

[[noreturn]] void usage(const QString& text)
{
    throw UsageError{text};
}

// "--key value" pairs; only the keys in allowed are accepted, each once.
QMap<QString, QString> parseOptions(const QStringList& args, const QStringList& allowed)
{
    QMap<QString, QString> opts;
    for (int i = 0; i < args.size(); ++i) {
        const QString& key = args[i];
        if (!key.startsWith("--") || !allowed.contains(key.mid(2)))
            usage(QString("unknown argument '%1'").arg(key));
        if (i + 1 >= args.size())
            usage(QString("%1 needs a value").arg(key));
        if (opts.contains(key.mid(2)))
            usage(QString("%1 given twice").arg(key));
        opts.insert(key.mid(2), args[++i]);
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

int sendCommand(const QMap<QString, QString>& opts, const QJsonObject& command)
{
    if (!opts.contains("to"))
        usage("--to ADDR is required");
    const QHostAddress to = parseAddress("to", opts["to"]);
    QUdpSocket sock;
    if (int rc = openSender(sock, opts))
        return rc;
    const QByteArray payload = QJsonDocument(command).toJson(QJsonDocument::Compact);
    if (sock.writeDatagram(payload, to, CLASSROOM_PORT) != payload.size()) {
        std::fprintf(stderr, "tavlo-host: cannot send to %s: %s\n", qPrintable(to.toString()),
                     qPrintable(sock.errorString()));
        return 1;
    }
    std::printf("sent %s to %s:%u\n", payload.constData(), qPrintable(to.toString()), CLASSROOM_PORT);
    return 0;
}

int show(const QStringList& args)
{
    const auto opts = parseOptions(args, {"to", "group", "ip", "bind"});
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
    return sendCommand(opts, cmd);
}

int stop(const QStringList& args)
{
    return sendCommand(parseOptions(args, {"to", "bind"}), QJsonObject{{"messageId", Classroom::MSG_STOP}});
}

// An integral JSON number that fits 32 bits, as the terminals read them.
bool jsonInt(const QJsonValue& v, qint64* out)
{
    const std::optional<int32_t> n = Utils::jsonInt32(v);
    if (n)
        *out = *n;
    return n.has_value();
}

int listen(const QStringList& args)
{
    const auto opts = parseOptions(args, {"bind", "count", "timeout"});
    const QHostAddress bindAddr =
        opts.contains("bind") ? parseAddress("bind", opts["bind"], true) : QHostAddress(QHostAddress::Any);
    const qint64 count = opts.contains("count") ? parseNumber("count", opts["count"], 1, 1000000000) : 0;
    const qint64 timeoutMs = opts.contains("timeout") ? parseNumber("timeout", opts["timeout"], 1, 86400) * 1000 : 0;

    QUdpSocket sock;
    // Address reuse, so that the host can run beside a terminal on one machine.
    if (!sock.bind(bindAddr, CLASSROOM_PORT, QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint)) {
        std::fprintf(stderr, "tavlo-host: cannot listen on %s port %u: %s\n", qPrintable(bindAddr.toString()),
                     CLASSROOM_PORT, qPrintable(sock.errorString()));
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
            const QJsonObject o = QJsonDocument::fromJson(data).object();
            qint64 messageId = -1, group = 0, livePort = 0;
            if (!jsonInt(o.value("messageId"), &messageId) || messageId != Classroom::MSG_ANNOUNCE || !jsonInt(o.value("id"), &group) ||
                !jsonInt(o.value("livePort"), &livePort)) {
                std::printf("ignored %d bytes from %s:%u\n", static_cast<int>(got), qPrintable(from.toString()), port);
            } else {
                std::printf("group %lld livePort %lld from %s:%u\n", static_cast<long long>(group),
                            static_cast<long long>(livePort), qPrintable(from.toString()), port);
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
        if (command == "-h" || command == "--help") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        usage(QString("unknown command '%1'").arg(command));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tavlo-host: %s\n%s", qPrintable(e.text), USAGE);
        return 2;
    }
}
