// tavlo-bench-firstpicture: how long a terminal takes from a show datagram to
// the picture on its screen.
//
//   tavlo-bench-firstpicture [--multicast] TERMINAL TRIES SHOW_IP RRGGBB [FROM_IP FROM_RRGGBB]
//                            [--key FILE --host ADDR]
//
// TERMINAL is the address of the terminal's UDP port 55555; the terminal's
// display is DISPLAY. Each try first brings the screen to a known state:
// without FROM_IP a stop (the desktop back, its centre no longer RRGGBB);
// with FROM_IP a show of that stream (the centre FROM_RRGGBB). It then sends
// {"messageId":2,"groupId":2,"ip":SHOW_IP} and watches the centre and two
// corners of the screen until all three are RRGGBB. One line per try, then
// the median; times are from the send to the first grab that shows it.
// With --multicast the show asks for the stream by multicast
// ("multicast":true).
//
// With --key the commands are signed for a terminal that trusts that key:
// the tool listens on ADDR:55555 (the terminal's "roomIp") for its nonce,
// and each time starts before the command is signed.
#include "Announcement.h"
#include "ClassroomKey.h"
#include "Envelope.h"

#include <QJsonDocument>
#include <QJsonObject>
// Xlib last: its macros clash with Qt's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

static double nowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

static bool near(unsigned long p, unsigned long want)
{
    for (int shift : {0, 8, 16}) {
        const int a = static_cast<int>((p >> shift) & 0xff), b = static_cast<int>((want >> shift) & 0xff);
        if (std::abs(a - b) > 40)
            return false;
    }
    return true;
}

struct Watch {
    Display* d;
    Window root;
    int w, h;
    // True when the centre and two corners show the colour.
    bool shows(unsigned long colour) const
    {
        const int pts[3][2] = {{w / 2, h / 2}, {8, 8}, {w - 9, 8}};
        for (const auto& pt : pts) {
            XImage* img = XGetImage(d, root, pt[0], pt[1], 1, 1, AllPlanes, ZPixmap);
            if (!img)
                return false;
            const unsigned long p = XGetPixel(img, 0, 0);
            XDestroyImage(img);
            if (!near(p, colour))
                return false;
        }
        return true;
    }
    // Polls every millisecond until shows(colour) == want; -1 after 20 s.
    double waitFor(unsigned long colour, bool want, double since) const
    {
        while (nowMs() - since < 20000) {
            if (shows(colour) == want)
                return nowMs() - since;
            usleep(1000);
        }
        return -1;
    }
};

// The signing side: the key, and the nonce of the terminal's latest
// announcement, read from a socket on its host address.
struct Signer {
    std::optional<ClassroomKey> key;
    int sock = -1;
    QString nonce;
    qint64 seq = 0;

    bool open(const char* keyFile, const char* host)
    {
        QString error;
        key = ClassroomKey::load(keyFile, true, &error);
        if (!key) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
        sock = socket(AF_INET, SOCK_DGRAM, 0);
        const int one = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
        const timeval wait{5, 0};  // a terminal announces once a second
        setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(55555);
        return inet_pton(AF_INET, host, &a.sin_addr) == 1 && bind(sock, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    // Takes the latest nonce: what is queued, else the next announcement.
    bool refresh()
    {
        char buf[2048];
        for (bool waited = false;;) {
            const ssize_t n = recv(sock, buf, sizeof buf, waited || !nonce.isEmpty() ? MSG_DONTWAIT : 0);
            if (n < 0)
                return !nonce.isEmpty();
            if (const auto a = Announcement::parse(QByteArray(buf, static_cast<int>(n))))
                nonce = a->nonce;
            waited = true;
        }
    }
    std::string seal(const std::string& command)
    {
        seq = Envelope::nextSeq(seq);
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(command)).object();
        return Envelope::seal(Envelope::address(o, 1, nonce, seq), *key).toStdString();
    }
};

int main(int argc, char** argv)
{
    const char* program = argv[0];
    const char* keyFile = nullptr;
    const char* host = nullptr;
    const bool multicast = argc >= 2 && std::strcmp(argv[1], "--multicast") == 0;
    if (multicast) {
        ++argv;
        --argc;
    }
    if (argc >= 4 && std::strcmp(argv[argc - 4], "--key") == 0 && std::strcmp(argv[argc - 2], "--host") == 0) {
        keyFile = argv[argc - 3];
        host = argv[argc - 1];
        argc -= 4;
    }
    if (argc != 5 && argc != 7) {
        std::fprintf(stderr, "usage: %s [--multicast] TERMINAL TRIES SHOW_IP RRGGBB [FROM_IP FROM_RRGGBB] "
                     "[--key FILE --host ADDR]\n",
                     program);
        return 2;
    }
    Signer signer;
    if (keyFile && !signer.open(keyFile, host)) {
        std::fprintf(stderr, "cannot sign: no key or no socket on %s:55555\n", host);
        return 1;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const Watch screen{d, DefaultRootWindow(d), DisplayWidth(d, 0), DisplayHeight(d, 0)};
    const int tries = std::atoi(argv[2]);
    const std::string showIp = argv[3];
    const unsigned long colour = std::strtoul(argv[4], nullptr, 16);
    const bool isSwitch = argc == 7;
    const std::string fromIp = isSwitch ? argv[5] : "";
    const unsigned long fromColour = isSwitch ? std::strtoul(argv[6], nullptr, 16) : 0;

    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(55555);
    if (inet_pton(AF_INET, argv[1], &to.sin_addr) != 1) {
        std::fprintf(stderr, "bad terminal address %s\n", argv[1]);
        return 2;
    }
    auto send = [&](const std::string& text) {
        const std::string datagram = keyFile ? signer.seal(text) : text;
        sendto(sock, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    };
    // The nonce is known before a command is given, as in the console's table.
    auto prepare = [&] {
        if (keyFile && !signer.refresh()) {
            std::fprintf(stderr, "no announcement with a nonce on %s\n", host);
            std::exit(1);
        }
    };
    auto show = [&](const std::string& ip) {
        send(R"({"messageId":2,"groupId":2,"ip":")" + ip + (multicast ? R"(","multicast":true})" : "\"}"));
    };

    std::vector<double> times;
    for (int i = 0; i < tries; ++i) {
        prepare();
        if (isSwitch) {
            show(fromIp);
            if (screen.waitFor(fromColour, true, nowMs()) < 0) {
                std::fprintf(stderr, "the first stream never showed\n");
                return 1;
            }
        } else {
            send(R"({"messageId":1})");
            if (screen.waitFor(colour, false, nowMs()) < 0) {
                std::fprintf(stderr, "the stop never showed\n");
                return 1;
            }
        }
        usleep(500000);  // settled
        prepare();
        const double sent = nowMs();
        show(showIp);
        const double t = screen.waitFor(colour, true, sent);
        if (t < 0) {
            std::fprintf(stderr, "the picture never showed\n");
            return 1;
        }
        std::printf("  try %d: %.0f ms\n", i + 1, t);
        std::fflush(stdout);
        times.push_back(t);
    }
    prepare();
    send(R"({"messageId":1})");
    std::sort(times.begin(), times.end());
    std::printf("%s median %.0f ms (min %.0f, max %.0f, %d tries)\n", isSwitch ? "switch" : "show",
                times[times.size() / 2], times.front(), times.back(), tries);
    return 0;
}
