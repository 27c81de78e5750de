#include "Envelope.h"

#include "Sodium.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <algorithm>
#include <chrono>
#include <sodium.h>

namespace {

Envelope::Opened refuse(Envelope::Status status, const char* why)
{
    Envelope::Opened out;
    out.status = status;
    out.why = QString::fromLatin1(why);
    return out;
}

}  // namespace

QByteArray Envelope::address(const QJsonObject& command, int to, const QString& nonce, qint64 seq)
{
    QJsonObject o = command;
    o.insert("to", to);
    o.insert("nonce", nonce);
    o.insert("seq", static_cast<double>(seq));
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray Envelope::seal(const QByteArray& command, const ClassroomKey& key)
{
    // Written by hand: the two texts are base64, so nothing needs escaping,
    // and the order is fixed.
    return "{\"cmd\":\"" + Sodium::toBase64(command).toLatin1() + "\",\"sig\":\"" +
           Sodium::toBase64(key.sign(command)).toLatin1() + "\"}";
}

Envelope::Opened Envelope::open(const QByteArray& datagram, const std::vector<PublicKey>& keys)
{
    if (datagram.size() > MAX_DATAGRAM_BYTES)
        return refuse(Status::Malformed, "malformed envelope: longer than 8192 bytes");
    const QJsonDocument doc = QJsonDocument::fromJson(datagram);
    if (!doc.isObject())
        return refuse(Status::Malformed, "malformed envelope: not a JSON object");
    const QJsonObject o = doc.object();
    const bool hasCmd = o.contains("cmd"), hasSig = o.contains("sig");
    if (!hasCmd && !hasSig)
        return refuse(Status::NotSigned, "not signed");
    if (!hasCmd || !hasSig || o.size() != 2)
        return refuse(Status::Malformed, "malformed envelope: it must hold exactly \"cmd\" and \"sig\"");
    const QJsonValue cmd = o.value("cmd"), sig = o.value("sig");
    if (!cmd.isString() || !sig.isString())
        return refuse(Status::Malformed, "malformed envelope: \"cmd\" and \"sig\" must be strings");
    const std::optional<QByteArray> command = Sodium::fromBase64(cmd.toString(), MAX_DATAGRAM_BYTES);
    if (!command)
        return refuse(Status::Malformed, "malformed envelope: \"cmd\" is not standard base64");
    const std::optional<QByteArray> signature = Sodium::fromBase64(sig.toString(), crypto_sign_BYTES);
    if (!signature || signature->size() != crypto_sign_BYTES)
        return refuse(Status::Malformed, "malformed envelope: \"sig\" is not 64 bytes in standard base64");
    if (!Sodium::ready())
        return refuse(Status::BadSignature, "bad signature: libsodium cannot start");
    for (const PublicKey& key : keys) {
        if (crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature->constData()),
                                        reinterpret_cast<const unsigned char*>(command->constData()),
                                        static_cast<unsigned long long>(command->size()), key.bytes.data()) == 0) {
            Opened out;
            out.status = Status::Signed;
            out.command = *command;
            return out;
        }
    }
    return refuse(Status::BadSignature, "bad signature");
}

QString Envelope::newNonce()
{
    if (!Sodium::ready())
        return QString();
    QByteArray bytes(NONCE_BYTES, '\0');
    randombytes_buf(bytes.data(), static_cast<size_t>(bytes.size()));
    return Sodium::toBase64(bytes);
}

bool Envelope::isNonce(const QString& text)
{
    const std::optional<QByteArray> bytes = Sodium::fromBase64(text, NONCE_BYTES);
    return bytes && bytes->size() == NONCE_BYTES;
}

qint64 Envelope::nextSeq(qint64 last)
{
    const qint64 now = std::chrono::duration_cast<std::chrono::microseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    return std::min(MAX_SEQ, std::max(last + 1, now));
}
