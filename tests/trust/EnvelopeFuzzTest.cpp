// The envelope's reader and the terminal's check under mutated datagrams: a
// deterministic mutation loop (fixed seed, so a failure repeats) over
// signed and plain commands. Whatever the bytes, nothing crashes (the
// sanitizer build runs this too), an opened envelope yields exactly the
// bytes that were signed, and the terminal lets each signed command through
// at most once.
#include "CommandTrust.h"
#include "Envelope.h"

#include <QJsonObject>
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <random>

namespace {

constexpr int ROUNDS = 100000;

ClassroomKey keyFrom(unsigned char fill)
{
    std::array<unsigned char, 32> seed;
    seed.fill(fill);
    return ClassroomKey::fromSeed(seed);
}

// Bits of text that change a JSON document's structure or a base64 text's
// meaning.
const char* const TOKENS[] = {"\"", "{", "}", ",", ":", "[", "]", "\\", "\\u0000", "\\\"", "=", "==", "+", "/",
                              "null", "true", "1e999", "-0", "\"cmd\":", "\"sig\":", " ", "\n", "\xff", "\xc3"};

class Mutator {
public:
    explicit Mutator(unsigned seed) : rng_(seed) {}

    QByteArray mutate(QByteArray d, const std::vector<QByteArray>& pool)
    {
        const int steps = 1 + pick(3);
        for (int i = 0; i < steps; ++i) {
            const int at = d.isEmpty() ? 0 : pick(d.size());
            switch (pick(9)) {
            case 0:  // flip one bit
                if (!d.isEmpty())
                    d[at] = static_cast<char>(d[at] ^ (1 << pick(8)));
                break;
            case 1:  // replace a byte
                if (!d.isEmpty())
                    d[at] = static_cast<char>(pick(256));
                break;
            case 2:  // a base64 character for another (keeps the text base64)
                if (!d.isEmpty())
                    d[at] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[pick(64)];
                break;
            case 3:  // insert a token
                d.insert(at, TOKENS[pick(static_cast<int>(sizeof TOKENS / sizeof *TOKENS))]);
                break;
            case 4:  // delete a range
                d.remove(at, 1 + pick(8));
                break;
            case 5:  // repeat a range
                d.insert(at, d.mid(at, 1 + pick(16)));
                break;
            case 6:  // cut the end
                d.truncate(at);
                break;
            case 7: {  // splice with another datagram
                const QByteArray& other = pool[static_cast<size_t>(pick(static_cast<int>(pool.size())))];
                d = d.left(at) + other.mid(other.isEmpty() ? 0 : pick(other.size()));
                break;
            }
            default:  // swap two halves
                d = d.mid(at) + d.left(at);
                break;
            }
        }
        return d;
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    std::mt19937 rng_;
};

TEST(EnvelopeFuzz, MutatedDatagramsNeverOpenToOtherBytesAndNeverCountTwice)
{
    const ClassroomKey teacher = keyFrom(1);
    const int64_t now = 1000;
    CommandTrust trust({teacher.publicKey()}, 5, now);
    const QString nonce = trust.nonce(now);

    // What was signed, and the datagrams that carry it.
    std::vector<QByteArray> signedCommands, pool;
    const QJsonObject commands[] = {
        {{"messageId", 2}, {"groupId", 0}},
        {{"messageId", 2}, {"groupId", 3}, {"ip", "10.0.0.3"}},
        {{"messageId", 1}},
        {{"messageId", 7}, {"multicast", true}, {"name", "Gruppe \u00e4"}},
    };
    int64_t seq = 1;
    for (const QJsonObject& c : commands)
        for (int to : {5, 6}) {
            const QByteArray inner = Envelope::address(c, to, nonce, seq++);
            signedCommands.push_back(inner);
            pool.push_back(Envelope::seal(inner, teacher));
        }
    pool.push_back(R"({"messageId":2,"groupId":0})");
    pool.push_back(R"({"cmd":"","sig":""})");

    Mutator m(20261208);
    std::map<QByteArray, int> passed;
    int opened = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        const QByteArray& base = pool[static_cast<size_t>(round) % pool.size()];
        const QByteArray d = m.mutate(base, pool);
        const Envelope::Opened o = Envelope::open(d, {teacher.publicKey()});
        if (o.status == Envelope::Status::Signed) {
            ++opened;
            ASSERT_NE(std::find(signedCommands.begin(), signedCommands.end(), o.command), signedCommands.end())
                << "opened to bytes nobody signed: " << d.toStdString();
        } else {
            ASSERT_TRUE(o.command.isEmpty());
            ASSERT_FALSE(o.why.isEmpty());
        }
        const CommandTrust::Verdict v = trust.check(d, now);
        if (v.command) {
            ASSERT_EQ(o.status, Envelope::Status::Signed);
            ASSERT_EQ(*v.command, o.command);
            ASSERT_EQ(++passed[*v.command], 1) << "a signed command went through twice";
        } else {
            ASSERT_FALSE(v.why.isEmpty());
        }
    }
    // The loop reached the interesting cases: mutants that still open (a
    // change of white space, a splice that rebuilt an envelope) and at most
    // the four commands for group 5 through the terminal.
    EXPECT_GT(opened, 0);
    EXPECT_LE(passed.size(), 4u);
    for (const auto& p : passed)
        EXPECT_TRUE(p.first.contains("\"to\":5"));
}

}  // namespace
