#ifndef TAVLO_COMMANDTRUST_H
#define TAVLO_COMMANDTRUST_H

#include "ClassroomKey.h"
#include "LineThrottle.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// Which of the classroom's datagrams a terminal obeys.
//
// Without keys (team.bin has no "hostKey") every datagram goes on to the
// command decoding as it came, as the classroom's plain JSON always did.
// With keys the terminal obeys only signed commands (see Envelope.h) that
// one of its keys signed, addressed "to" its own group, under the nonce it
// announces now (or the one before it, for PREVIOUS_NONCE_MS after a
// change), with a "seq" above any it accepted under that nonce. Everything
// else is ignored; one stdout line a second at most says why:
//   Command ignored: <reason>[ (and N more since the last line)]
//
// The nonce: 128 random bits, new at every start and every NONCE_LIFETIME_MS.
//
// No clock of its own: every call is given the monotonic time in
// milliseconds. GUI thread.
class CommandTrust {
public:
    static constexpr int64_t NONCE_LIFETIME_MS = 10 * 60 * 1000;
    // The previous nonce stays good this long after a change, so that a
    // command signed just before it still counts.
    static constexpr int64_t PREVIOUS_NONCE_MS = 5000;

    // keys: the trusted public keys (none: commands are not authenticated);
    // teamNum: this terminal's group.
    CommandTrust(std::vector<PublicKey> keys, uint32_t teamNum, int64_t nowMs);

    bool enabled() const { return !keys_.empty(); }
    // The line printed at start: whether and by which keys commands are
    // authenticated.
    QString startLine() const;
    // The nonce to announce now, renewed when due; empty without keys.
    QString nonce(int64_t nowMs);

    struct Verdict {
        std::optional<QByteArray> command;  // the command's JSON bytes to obey
        QString why;                        // else: why it is ignored
    };
    // The decision for one datagram; a command it lets through uses up its
    // seq. Pure apart from that bookkeeping.
    Verdict check(const QByteArray& datagram, int64_t nowMs);
    // check(), then the "Command ignored:" line (throttled) when it refuses.
    // What the command road calls for each datagram.
    std::optional<QByteArray> admit(const QByteArray& datagram, int64_t nowMs);

private:
    struct NonceState {
        QString text;
        int64_t lastSeq = 0;  // highest seq accepted under it
    };
    void renew(int64_t nowMs);

    std::vector<PublicKey> keys_;
    int32_t teamNum_;
    NonceState current_;
    int64_t currentSinceMs_ = 0;
    std::optional<NonceState> previous_;  // good until previousUntilMs_
    int64_t previousUntilMs_ = 0;
    LineThrottle ignoredLines_;
};

#endif
