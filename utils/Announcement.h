#ifndef TAVLO_ANNOUNCEMENT_H
#define TAVLO_ANNOUNCEMENT_H

#include <QByteArray>
#include <QString>
#include <optional>

// A group terminal's announcement as the host's side reads it:
//   { "messageId":0,"id":G, "livePort":P,"systemType":1 }
// and, from a terminal that obeys only signed commands, also "nonce": the
// text that such commands must carry. Read by the console and tavlo-host.
struct Announcement {
    int group = 0;
    int livePort = 0;
    QString nonce;  // empty: the terminal takes plain commands

    // "messageId" 0 with an "id" of 1 or more and a "livePort" from 1 to
    // 65535, each an integral JSON number that fits 32 bits, and no "nonce"
    // or one of a nonce's form (Envelope::isNonce). Nothing for any other
    // datagram. Pure; any thread.
    static std::optional<Announcement> parse(const QByteArray& datagram);
};

#endif
