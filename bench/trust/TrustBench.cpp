// tavlo-bench-trust: what signing costs per command, on the console's side
// and on the terminal's, beside reading the same command as plain JSON.
//
//   build/tavlo-bench-trust [--benchmark_repetitions=5 --benchmark_report_aggregates_only=true]
#include "ClassroomCommands.h"
#include "CommandTrust.h"
#include "Envelope.h"
#include "GroupTable.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <benchmark/benchmark.h>

namespace {

const QJsonObject SHOW{{"messageId", 2}, {"groupId", 3}, {"ip", "10.214.3.2"}};

ClassroomKey keyFrom(unsigned char fill)
{
    std::array<unsigned char, 32> seed;
    seed.fill(fill);
    return ClassroomKey::fromSeed(seed);
}

// The console: address and sign one show command.
void BM_SignShowCommand(benchmark::State& state)
{
    const ClassroomKey key = keyFrom(1);
    const QString nonce = Envelope::newNonce();
    qint64 seq = 0;
    for (auto _ : state) {
        seq = Envelope::nextSeq(seq);
        benchmark::DoNotOptimize(Envelope::seal(Envelope::address(SHOW, 7, nonce, seq), key));
    }
}
BENCHMARK(BM_SignShowCommand)->Unit(benchmark::kMicrosecond);

// The envelope alone: read and check the signature with one trusted key.
void BM_OpenEnvelope(benchmark::State& state)
{
    const ClassroomKey key = keyFrom(1);
    const QByteArray datagram = Envelope::seal(Envelope::address(SHOW, 7, Envelope::newNonce(), 1), key);
    const std::vector<PublicKey> keys{key.publicKey()};
    for (auto _ : state)
        benchmark::DoNotOptimize(Envelope::open(datagram, keys));
}
BENCHMARK(BM_OpenEnvelope)->Unit(benchmark::kMicrosecond);

// The terminal: the whole check of a signed command (envelope, signature,
// group, nonce, seq). Each iteration gets a fresh command; signing them is
// left out of the time.
void BM_TerminalChecksSignedCommand(benchmark::State& state)
{
    const ClassroomKey key = keyFrom(1);
    CommandTrust trust({key.publicKey()}, 7, 0);
    const QString nonce = trust.nonce(0);
    std::vector<QByteArray> datagrams;
    for (qint64 seq = 1; seq <= 1000; ++seq)
        datagrams.push_back(Envelope::seal(Envelope::address(SHOW, 7, nonce, seq), key));
    size_t i = 0;
    for (auto _ : state) {
        if (i == datagrams.size()) {
            state.PauseTiming();
            trust = CommandTrust({key.publicKey()}, 7, 0);
            datagrams.clear();
            const QString n = trust.nonce(0);
            for (qint64 seq = 1; seq <= 1000; ++seq)
                datagrams.push_back(Envelope::seal(Envelope::address(SHOW, 7, n, seq), key));
            i = 0;
            state.ResumeTiming();
        }
        const CommandTrust::Verdict v = trust.check(datagrams[i++], 0);
        if (!v.command)
            state.SkipWithError(qPrintable(v.why));
    }
}
BENCHMARK(BM_TerminalChecksSignedCommand)->Unit(benchmark::kMicrosecond);

// The terminal refusing a forged command (a student's key): as dear as a
// good one, which bounds what a flood of forgeries costs.
void BM_TerminalRefusesForgedCommand(benchmark::State& state)
{
    CommandTrust trust({keyFrom(1).publicKey()}, 7, 0);
    const QByteArray forged = Envelope::seal(Envelope::address(SHOW, 7, trust.nonce(0), 1), keyFrom(2));
    for (auto _ : state)
        benchmark::DoNotOptimize(trust.check(forged, 0));
}
BENCHMARK(BM_TerminalRefusesForgedCommand)->Unit(benchmark::kMicrosecond);

// For comparison: what a terminal without a key does with the plain
// command before it acts (read the JSON).
void BM_ReadPlainCommand(benchmark::State& state)
{
    const QByteArray plain = QJsonDocument(SHOW).toJson(QJsonDocument::Compact);
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(plain).object());
}
BENCHMARK(BM_ReadPlainCommand)->Unit(benchmark::kMicrosecond);

// The console's "show group 1 to all" for 30 keyed groups: 29 datagrams,
// each signed for its group under its nonce.
void BM_ConsoleShowToAll30Groups(benchmark::State& state)
{
    const ClassroomKey key = keyFrom(1);
    GroupTable table;
    for (int g = 1; g <= 30; ++g)
        table.announce(g, QHostAddress(QString("10.214.%1.2").arg(g)), 5000, 0, Envelope::newNonce());
    qint64 seq = 0;
    for (auto _ : state) {
        for (const Command& c : ClassroomCommands::showToAll(table, 1, 0)) {
            seq = Envelope::nextSeq(seq);
            benchmark::DoNotOptimize(ClassroomCommands::datagram(c, &key, seq));
        }
    }
}
BENCHMARK(BM_ConsoleShowToAll30Groups)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
