#ifndef TAVLO_CLASSROOMLINK_H
#define TAVLO_CLASSROOMLINK_H

#include "Announcement.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>
#include <optional>

// The console's UDP socket on port 55555: receives the groups'
// announcements and sends the commands. GUI thread.
class ClassroomLink : public QObject {
    Q_OBJECT
public:
    explicit ClassroomLink(QObject* parent = nullptr);

    // Binds port 55555 on address as the terminal does (ClassroomPort.h:
    // shared with the same user's programs only). False (with the reason in
    // *error) when refused.
    bool listen(const QHostAddress& address, QString* error);

    // Sends payload to port 55555 of to; false when the socket refuses.
    bool send(const QHostAddress& to, const QByteArray& payload);

    // An announcement (Announcement::parse); nothing for any other datagram.
    static std::optional<Announcement> parse(const QByteArray& datagram) { return Announcement::parse(datagram); }

Q_SIGNALS:
    // A group announced itself; from is the sender's address (an IPv4
    // address also when it came through a dual-stack socket), nonce the
    // one it announced (empty: it takes plain commands).
    void announced(int group, const QHostAddress& from, int livePort, const QString& nonce);

private:
    // Datagrams read per ready-read notification.
    static constexpr int MAX_BATCH = 256;
    void onReadyRead();
    QUdpSocket sock_;
};

#endif
