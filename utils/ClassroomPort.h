#ifndef TAVLO_CLASSROOMPORT_H
#define TAVLO_CLASSROOMPORT_H

#include <QHostAddress>
#include <QString>
#include <QUdpSocket>

// Binding the classroom's UDP port (55555) so that no other user of the
// computer can take it over.
//
// On Linux a UDP socket with SO_REUSEADDR lets any other socket with
// SO_REUSEADDR bind the same port, whoever owns it; bound to a more
// specific address (the terminal's own, 127.0.0.1), that socket then gets
// every datagram sent there, and the terminal none. SO_REUSEPORT instead
// lets a second socket bind the port only when it sets SO_REUSEPORT too and
// belongs to the same user (the kernel compares the owners' uids). So every
// classroom program binds with SO_REUSEPORT alone: a terminal, tavlo-host
// and the console still share the port on one computer when one user runs
// them (each on its own address: datagrams go to the most specific bind),
// while another user's bind on any address fails with "Address in use" as
// long as the port is held.
//
// GUI thread (or whichever thread owns the socket).
class ClassroomPort {
public:
    // Binds socket (not yet bound) to address and port as described;
    // QHostAddress::Any is every IPv4 and IPv6 address. False with the
    // system's reason in *error when refused.
    static bool bind(QUdpSocket& socket, const QHostAddress& address, quint16 port, QString* error = nullptr);
};

#endif
