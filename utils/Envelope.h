#ifndef TAVLO_ENVELOPE_H
#define TAVLO_ENVELOPE_H

#include "ClassroomKey.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <optional>
#include <vector>

// A signed classroom command, as the console and tavlo-host send it and a
// terminal that trusts a key checks it:
//
//   {"cmd":"<base64 of the command's JSON bytes>","sig":"<base64 of the
//    64-byte Ed25519 signature of exactly those bytes>"}
//
// The command inside is any command object plus "to" (the group it is for),
// "nonce" (the text that group's terminal announces) and "seq" (higher than
// any the terminal accepted under that nonce), so a signed command cannot be
// sent to another group, to a later start of the terminal, or twice.
//
// Pure functions over bytes and keys; any thread.
class Envelope {
public:
    // Longest datagram read as an envelope.
    static constexpr int MAX_DATAGRAM_BYTES = 8192;
    // Bytes of a terminal's nonce (128 bits).
    static constexpr int NONCE_BYTES = 16;
    // Largest "seq": JSON numbers are read as doubles, exact up to 2^53.
    static constexpr qint64 MAX_SEQ = qint64(1) << 53;

    // The command's JSON bytes to sign: command with "to", "nonce" and
    // "seq" set (replacing any keys of those names), compact.
    static QByteArray address(const QJsonObject& command, int to, const QString& nonce, qint64 seq);
    // The envelope of command (its exact bytes), signed with key.
    static QByteArray seal(const QByteArray& command, const ClassroomKey& key);

    // What reading a datagram as an envelope found.
    enum class Status {
        Signed,        // a sound envelope signed by one of the keys
        NotSigned,     // a JSON object without "cmd" and "sig": a plain command
        Malformed,     // anything else that is no envelope
        BadSignature,  // a sound envelope whose signature no key confirms
    };
    struct Opened {
        Status status = Status::Malformed;
        QByteArray command;  // the signed bytes (Signed only)
        QString why;         // for all but Signed: one line, e.g. "malformed envelope: \"sig\" is not a string"
    };
    // Reads datagram as an envelope and checks its signature against each
    // of keys. Never throws; any bytes.
    static Opened open(const QByteArray& datagram, const std::vector<PublicKey>& keys);

    // A fresh random nonce: NONCE_BYTES in standard base64.
    static QString newNonce();
    // True when text is a nonce's form (NONCE_BYTES in canonical base64).
    static bool isNonce(const QString& text);
    // The next "seq" of a sender whose last was last: the wall clock in
    // microseconds, or last + 1 if that is not higher. Senders that never
    // talked to each other (two runs of tavlo-host, two consoles sharing a
    // key) so still send rising numbers, as long as their clocks agree.
    static qint64 nextSeq(qint64 last);
};

#endif
