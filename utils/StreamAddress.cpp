#include "StreamAddress.h"

#include "Classroom.h"

namespace {

// Longest text that can still be an address (a full IPv6 address with an
// IPv4 tail is 45 characters).
const int MAX_ADDRESS_CHARS = 45;
// How much of a refused text a message shows.
const int MAX_QUOTED_CHARS = 64;

bool addressCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F') || u == '.' || u == ':';
}

std::optional<QHostAddress> refuse(QString* why, const char* reason)
{
    if (why)
        *why = QString::fromLatin1(reason);
    return std::nullopt;
}

}  // namespace

std::optional<QHostAddress> StreamAddress::parseLiteral(const QString& text, QString* why)
{
    if (text.isEmpty())
        return refuse(why, "is empty");
    // QHostAddress trims white space (CR/LF included) and reads forms such as
    // "127.1" or "0x7f.1"; only the characters of a literal get that far.
    if (text.size() > MAX_ADDRESS_CHARS)
        return refuse(why, "is not a literal IPv4 or IPv6 address");
    for (const QChar c : text)
        if (!addressCharacter(c))
            return refuse(why, "is not a literal IPv4 or IPv6 address");
    QHostAddress address;
    if (!address.setAddress(text))
        return refuse(why, "is not a literal IPv4 or IPv6 address");
    // An IPv4 address mapped into IPv6 is the IPv4 address.
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    if (mapped && address.protocol() == QAbstractSocket::IPv6Protocol)
        address = QHostAddress(v4);
    else if (address.protocol() == QAbstractSocket::IPv4Protocol && address.toString() != text)
        return refuse(why, "is not a literal IPv4 or IPv6 address");  // "127.1", "010.0.0.1"
    if (address.isNull())
        return refuse(why, "is not a literal IPv4 or IPv6 address");
    return address;
}

std::optional<QHostAddress> StreamAddress::parse(const QString& text, QString* why)
{
    const std::optional<QHostAddress> literal = parseLiteral(text, why);
    if (!literal)
        return std::nullopt;
    const QHostAddress& address = *literal;
    if (address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
        return refuse(why, "is the unspecified address");
    if (address.isMulticast() || address.isBroadcast())
        return refuse(why, "is not a unicast address");
    return address;
}

QString StreamAddress::url(const QHostAddress& address)
{
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol ? "[" + address.toString() + "]"
                                                                             : address.toString();
    return QString("rtsp://%1:%2/%3").arg(host).arg(Classroom::LIVE_PORT).arg(Classroom::STREAM_NAME);
}

QString StreamAddress::quoted(const QString& text)
{
    QString out = "\"";
    const QString cut = text.left(MAX_QUOTED_CHARS);
    for (const QChar c : cut) {
        const char16_t u = c.unicode();
        if (u == '"' || u == '\\')
            out += QString("\\") + c;
        else if (u == '\r')
            out += "\\r";
        else if (u == '\n')
            out += "\\n";
        else if (u < 0x20 || u >= 0x7f)
            out += QString("\\u%1").arg(static_cast<unsigned>(u), 4, 16, QChar('0'));
        else
            out += c;
    }
    out += "\"";
    if (text.size() > cut.size())
        out += "...";
    return out;
}
