#ifndef TAVLO_STREAMADDRESS_H
#define TAVLO_STREAMADDRESS_H

#include <QHostAddress>
#include <QString>
#include <optional>

// The address of a stream the host names, checked before anything connects
// to it. A command's "ip" and the configured "roomIp" are pasted into an RTSP
// URL; only a literal unicast IPv4 or IPv6 address may go there, so that a
// command cannot choose another port or path, add request lines, wait on a
// name lookup, or (empty, unspecified) reach this terminal's own server.
//
// Accepted: a dotted-quad IPv4 address written the usual way
// ("192.168.7.170"; not "127.1" nor "010.0.0.1"), or an IPv6 address without
// brackets or scope ("::1", "fd00::2"). Everything is read by QHostAddress;
// no name is ever looked up. Stateless; any thread.
//
// The one address rule of the classroom's programs: the terminal reads "ip"
// and "roomIp" with it, and tavlo-host and the console read the addresses
// they are given and send with it, so that whatever they send the terminal
// accepts.
class StreamAddress {
public:
    // The address text read, or nothing; *why (when given) says what is wrong
    // with it, without repeating the text.
    static std::optional<QHostAddress> parse(const QString& text, QString* why = nullptr);

    // The same literal forms, with the unspecified address ("0.0.0.0",
    // "::": every address) allowed and no unicast check: for an address to
    // bind to.
    static std::optional<QHostAddress> parseLiteral(const QString& text, QString* why = nullptr);

    // "rtsp://ADDRESS:5000/cam_passby_chn0" for a parsed address; an IPv6
    // address goes in brackets.
    static QString url(const QHostAddress& address);

    // The text quoted for a one-line message: control characters and
    // anything outside printable ASCII escaped, long texts cut.
    static QString quoted(const QString& text);
};

#endif
