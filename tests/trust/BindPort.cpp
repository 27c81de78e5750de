// tavlo-test-bindport: what another program (another user's, when started
// through setpriv) gets when it binds a UDP port.
//
//   tavlo-test-bindport ADDRESS PORT [reuseaddr] [reuseport] [hold]
//
// Prints "bound" or "refused: <reason>" on one line. With "hold" a bound
// socket is kept until the process is killed, and every datagram it
// receives is printed as "got <bytes>".
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ADDRESS PORT [reuseaddr] [reuseport] [hold]\n", argv[0]);
        return 2;
    }
    bool reuseAddr = false, reusePort = false, hold = false;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        reuseAddr |= a == "reuseaddr";
        reusePort |= a == "reuseport";
        hold |= a == "hold";
    }
    const bool v6 = std::strchr(argv[1], ':') != nullptr;
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    if (reuseAddr)
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (reusePort)
        setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
    int rc;
    if (v6) {
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
        inet_pton(AF_INET6, argv[1], &a.sin6_addr);
        rc = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
        inet_pton(AF_INET, argv[1], &a.sin_addr);
        rc = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (rc != 0) {
        std::printf("refused: %s\n", std::strerror(errno));
        return 1;
    }
    std::printf("bound\n");
    std::fflush(stdout);
    while (hold) {
        char buf[2048];
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n >= 0) {
            std::printf("got %.*s\n", static_cast<int>(n), buf);
            std::fflush(stdout);
        }
    }
    return 0;
}
