#include "ClassroomPort.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool ClassroomPort::bind(QUdpSocket& socket, const QHostAddress& address, quint16 port, QString* error)
{
    auto fail = [&](int fd) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    };
    const bool any = address == QHostAddress::Any;
    const bool v6 = any || address.protocol() == QAbstractSocket::IPv6Protocol;
    const int fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return fail(fd);
    const int one = 1, zero = 0;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one) != 0)
        return fail(fd);
    // Every address: IPv4 too, through the IPv6 socket.
    if (any && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &zero, sizeof zero) != 0)
        return fail(fd);
    int rc;
    if (v6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        if (!any) {
            const Q_IPV6ADDR ip = address.toIPv6Address();
            std::memcpy(&a.sin6_addr, ip.c, sizeof a.sin6_addr);
            a.sin6_scope_id = address.scopeId().toUInt();
        }
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(address.toIPv4Address());
        rc = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (rc != 0)
        return fail(fd);
    if (!socket.setSocketDescriptor(fd, QAbstractSocket::BoundState, QIODevice::ReadWrite)) {
        if (error)
            *error = socket.errorString();
        ::close(fd);
        return false;
    }
    return true;
}
