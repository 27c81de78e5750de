#ifndef TAVLO_CLASSROOMLINK_H
#define TAVLO_CLASSROOMLINK_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>
#include <optional>

// An announcement as the console reads it.
struct Announcement {
    int group = 0;
    int livePort = 0;
};

// The console's UDP socket on port 55555: receives the groups'
// announcements and sends the commands. GUI thread.
class ClassroomLink : public QObject {
    Q_OBJECT
public:
    explicit ClassroomLink(QObject* parent = nullptr);

    // Binds port 55555 on address, with address reuse as the terminal
    // does. False (with errorString()) when refused.
    bool listen(const QHostAddress& address);
    QString errorString() const { return sock_.errorString(); }

    // Sends payload to port 55555 of to; false when the socket refuses.
    bool send(const QHostAddress& to, const QByteArray& payload);

    // An announcement: "messageId" 0 with an "id" of 1 or more and a
    // "livePort" from 1 to 65535, each an integral JSON number that fits
    // 32 bits. Nothing for any other datagram.
    static std::optional<Announcement> parse(const QByteArray& datagram);

Q_SIGNALS:
    // A group announced itself; from is the sender's address (an IPv4
    // address also when it came through a dual-stack socket).
    void announced(int group, const QHostAddress& from, int livePort);

private:
    void onReadyRead();
    QUdpSocket sock_;
};

#endif
