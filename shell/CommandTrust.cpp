#include "CommandTrust.h"

#include "Envelope.h"
#include "Utils.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <cmath>
#include <cstdio>

namespace {

CommandTrust::Verdict ignore(const QString& why)
{
    return CommandTrust::Verdict{std::nullopt, why};
}

// "seq": an integral JSON number from 1 to 2^53; 0 for anything else.
int64_t seqOf(const QJsonValue& v)
{
    if (!v.isDouble())
        return 0;
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || d < 1 || d > static_cast<double>(Envelope::MAX_SEQ))
        return 0;
    return static_cast<int64_t>(d);
}

}  // namespace

CommandTrust::CommandTrust(std::vector<PublicKey> keys, uint32_t teamNum, int64_t nowMs)
    : keys_(std::move(keys)), teamNum_(static_cast<int32_t>(teamNum))
{
    if (enabled())
        renew(nowMs);
}

QString CommandTrust::startLine() const
{
    if (!enabled())
        return "Commands are not authenticated: team.bin has no \"hostKey\"; any computer can command this screen";
    QStringList prints;
    for (const PublicKey& k : keys_)
        prints << k.fingerprint();
    return QString("Commands must be signed by the classroom key %1").arg(prints.join(", "));
}

void CommandTrust::renew(int64_t nowMs)
{
    if (!current_.text.isEmpty()) {
        previous_ = current_;
        previousUntilMs_ = nowMs + PREVIOUS_NONCE_MS;
    }
    current_ = NonceState{Envelope::newNonce(), 0};
    currentSinceMs_ = nowMs;
}

QString CommandTrust::nonce(int64_t nowMs)
{
    if (!enabled())
        return QString();
    if (nowMs - currentSinceMs_ >= NONCE_LIFETIME_MS)
        renew(nowMs);
    return current_.text;
}

CommandTrust::Verdict CommandTrust::check(const QByteArray& datagram, int64_t nowMs)
{
    if (!enabled())
        return Verdict{datagram, QString()};
    const Envelope::Opened opened = Envelope::open(datagram, keys_);
    if (opened.status != Envelope::Status::Signed)
        return ignore(opened.why);

    // Signed by a trusted key: what it says can be believed, so the reasons
    // below may quote it.
    const QJsonDocument doc = QJsonDocument::fromJson(opened.command);
    if (!doc.isObject())
        return ignore("signed command is not a JSON object");
    const QJsonObject cmd = doc.object();
    const std::optional<int32_t> to = Utils::jsonInt32(cmd.value("to"));
    if (!to)
        return ignore("signed command has no \"to\" group");
    if (*to != teamNum_)
        return ignore(QString("for group %1, not for this group %2").arg(*to).arg(teamNum_));
    const QJsonValue nonceValue = cmd.value("nonce");
    if (!nonceValue.isString())
        return ignore("signed command has no \"nonce\"");
    NonceState* under = nullptr;
    nonce(nowMs);  // renews a nonce that is due before judging by it
    if (nonceValue.toString() == current_.text)
        under = &current_;
    else if (previous_ && nowMs < previousUntilMs_ && nonceValue.toString() == previous_->text)
        under = &*previous_;
    if (!under)
        return ignore("old or unknown nonce (a replay, or a command for an earlier start)");
    const int64_t seq = seqOf(cmd.value("seq"));
    if (seq == 0)
        return ignore("signed command has no \"seq\" from 1 to 2^53");
    if (seq <= under->lastSeq)
        return ignore(QString("seq %1 is not above %2, the last accepted (a replay)").arg(seq).arg(under->lastSeq));
    under->lastSeq = seq;
    return Verdict{opened.command, QString()};
}

std::optional<QByteArray> CommandTrust::admit(const QByteArray& datagram, int64_t nowMs)
{
    Verdict v = check(datagram, nowMs);
    int64_t more = 0;
    if (!v.command && ignoredLines_.allow(nowMs, &more)) {
        if (more > 0)
            std::printf("Command ignored: %s (and %lld more since the last line)\n", v.why.toUtf8().constData(),
                        static_cast<long long>(more));
        else
            std::printf("Command ignored: %s\n", v.why.toUtf8().constData());
        std::fflush(stdout);
    }
    return std::move(v.command);
}
