// tavlo-test-announcer: group announcements from made-up terminals.
//
//   tavlo-test-announcer --to ADDR --from A[,B,...] --groups FIRST[-LAST] [--every MS] [--rounds N]
//                        [--live-port P] [--nonce]
//
// Each round announces every group from FIRST to LAST once, the sending
// address taking turns among the --from addresses (which must be local),
// as one terminal's announcement each: { "messageId":0,"id":G,
// "livePort":P,"systemType":1 }, with a random "nonce" when asked. Rounds
// follow each other every MS milliseconds (default: at once) until N rounds
// have been sent (default: until killed). Prints "ready" once its sockets
// are bound and "done" at the end.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv)
{
    std::string to, from, groups = "1";
    long every = 0, rounds = 0, livePort = 5000;
    bool nonce = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : "";
        if (a == "--to")
            to = v, ++i;
        else if (a == "--from")
            from = v, ++i;
        else if (a == "--groups")
            groups = v, ++i;
        else if (a == "--every")
            every = std::atol(v), ++i;
        else if (a == "--rounds")
            rounds = std::atol(v), ++i;
        else if (a == "--live-port")
            livePort = std::atol(v), ++i;
        else if (a == "--nonce")
            nonce = true;
        else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    const long first = std::atol(groups.c_str());
    const size_t dash = groups.find('-');
    const long last = dash == std::string::npos ? first : std::atol(groups.c_str() + dash + 1);
    sockaddr_in dest{};
    dest.sin_family = AF_INET;
    dest.sin_port = htons(55555);
    if (inet_pton(AF_INET, to.c_str(), &dest.sin_addr) != 1 || from.empty() || last < first) {
        std::fprintf(stderr, "usage: %s --to ADDR --from A[,B...] --groups FIRST[-LAST] [--every MS] [--rounds N]\n",
                     argv[0]);
        return 2;
    }
    std::vector<int> socks;
    for (size_t start = 0; start <= from.size();) {
        const size_t comma = std::min(from.find(',', start), from.size());
        const std::string address = from.substr(start, comma - start);
        start = comma + 1;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        if (inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
            bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            std::fprintf(stderr, "cannot send from %s\n", address.c_str());
            return 1;
        }
        socks.push_back(fd);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::mt19937 rng(std::random_device{}());
    const char* const B64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    size_t turn = 0;
    for (long round = 0; rounds == 0 || round < rounds; ++round) {
        for (long g = first; g <= last; ++g) {
            std::string text = "{ \"messageId\":0,\"id\":" + std::to_string(g) + ", \"livePort\":" +
                               std::to_string(livePort) + ",\"systemType\":1";
            if (nonce) {
                // 16 bytes in base64: 21 free characters, one of 4 (the
                // last two bits are zero), then the padding.
                std::string n;
                for (int i = 0; i < 21; ++i)
                    n += B64[rng() % 64];
                n += B64[(rng() % 16) * 4];
                text += ",\"nonce\":\"" + n + "==\"";
            }
            text += " }";
            sendto(socks[turn++ % socks.size()], text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&dest),
                   sizeof dest);
        }
        if (every > 0)
            usleep(static_cast<useconds_t>(every) * 1000);
    }
    std::printf("done\n");
    return 0;
}
