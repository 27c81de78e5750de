#ifndef TAVLO_HOSTCOMMAND_H
#define TAVLO_HOSTCOMMAND_H

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <cstdint>

// A datagram from the classroom host as the terminal reads it: the one place
// where bytes on port 55555 become an action. The main window decodes every
// datagram here and only acts on the result, so every form a host may send
// (and every form it must not) is decided, and tested, without a socket.
//
//   {"messageId":2,"groupId":G,"ip":"A"}  show group G's screen, served at A
//   {"messageId":2,"groupId":0}           show the host's screen, at "roomIp"
//   ... "multicast":true in a show         the same, by multicast first
//   {"messageId":2} with G = this group    stop: a group never shows itself
//   {"messageId":16,"text":"T"}           lock: the lock card says T (cleaned by
//                                          lockText; "请看老师" without one)
//   {"messageId":17}                       unlock
//   any other messageId                    stop
//   not a JSON object, no "messageId"      ignored
//
// Numbers are read by Utils::jsonInt32 (anything else reads as 0). The stream
// address ("ip", or "roomIp" for group 0) must pass StreamAddress::parse; a
// show whose address does not is refused: it stops what is shown and says why.
// Pure: no state, no I/O; any thread.
struct HostCommand {
    enum class Action {
        Ignore,  // not a command: nothing changes
        Show,    // show the stream at url
        Stop,    // stop showing (also a refused show)
        Lock,    // cover the screen with the lock card saying text, take the input
        Unlock,  // give the desktop back
    };

    Action action = Action::Ignore;
    // Show: "rtsp://ADDRESS:5000/cam_passby_chn0".
    QString url;
    // Show: take the stream by multicast first (the viewer falls back on
    // TCP by itself). Only the JSON value true sets it.
    bool multicast = false;
    // Why this action, for a log line: "group 3 at 10.0.0.2", "messageId 1",
    // "the terminal's own group", "not a JSON object", or for a refused show
    // what is wrong with the address ("\"ip\" \"127.1\" is not a literal IPv4
    // or IPv6 address").
    QString reason;
    // A show that named no sound address; the terminal prints
    // "Show refused: " and the reason.
    bool refused = false;
    // Lock: what the card says.
    QString text;

    // teamNum: this terminal's group; roomIp: the configured host address.
    static HostCommand decode(const QByteArray& datagram, uint32_t teamNum, const QString& roomIp);
    // What a lock card says for a lock's "text": control characters and line
    // breaks as spaces, runs of white space as one, at most
    // Classroom::LOCK_TEXT_MAX characters; Classroom::LOCK_TEXT_DEFAULT when
    // nothing is left or "text" is not a string.
    static QString lockText(const QJsonValue& text);
};

#endif
