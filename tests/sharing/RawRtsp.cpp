#include "RawRtsp.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QRegularExpression>

RawRtsp::RawRtsp(int port, const QHostAddress& from, const QString& host) : host_(host), port_(port)
{
    if (!from.isNull())
        sock_.bind(from);
    sock_.connectToHost(host_, static_cast<quint16>(port));
    connected_ = sock_.waitForConnected(tsupport::SLOW_MS);
}

RawRtsp::~RawRtsp()
{
    sock_.abort();
}

QString RawRtsp::url(const QString& suffix) const
{
    return QString("rtsp://%1:%2/%3%4").arg(host_).arg(port_).arg(stream_).arg(suffix);
}

int RawRtsp::request(const QByteArray& method, const QString& url, const QByteArray& headers)
{
    QByteArray text = method + ' ' + url.toLatin1() + " RTSP/1.0\r\nCSeq: " + QByteArray::number(++cseq_) + "\r\n";
    if (!session_.isEmpty())
        text += "Session: " + session_ + "\r\n";
    text += headers + "\r\n";
    last_.clear();
    gotReply_ = false;
    sock_.write(text);
    sock_.flush();
    if (!receiveUntil([this] { return gotReply_; }, tsupport::SLOW_MS))
        return 0;
    const QRegularExpression status("^RTSP/1\\.0 (\\d{3})");
    const auto m = status.match(QString::fromLatin1(last_));
    if (!m.hasMatch())
        return 0;
    const QRegularExpression sess("\r\nSession:\\s*([^;\r]+)", QRegularExpression::CaseInsensitiveOption);
    const auto s = sess.match(QString::fromLatin1(last_));
    if (s.hasMatch())
        session_ = s.captured(1).trimmed().toLatin1();
    return m.captured(1).toInt();
}

int RawRtsp::setupAndPlay()
{
    if (request("SETUP", url("/stream=0"), "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n") != 200)
        return 0;
    return request("PLAY", url(), "Range: npt=0.000-\r\n");
}

bool RawRtsp::receiveUntil(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        parse();
        if (done())
            return true;
        if (deadline.hasExpired() || sock_.state() != QAbstractSocket::ConnectedState)
            return false;
        if (sock_.bytesAvailable() == 0)
            sock_.waitForReadyRead(static_cast<int>(qBound<qint64>(1, deadline.remainingTime(), 100)));
        in_ += sock_.readAll();
    }
}

uint32_t RawRtsp::transportSsrc() const
{
    const QRegularExpression re("\r\nTransport:[^\r]*;ssrc=([0-9A-Fa-f]+)", QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(QString::fromLatin1(last_));
    return m.hasMatch() ? m.captured(1).toUInt(nullptr, 16) : 0;
}

int RawRtsp::serverRtpPort() const
{
    const QRegularExpression re("\r\nTransport:[^\r]*server_port=(\\d+)", QRegularExpression::CaseInsensitiveOption);
    const auto m = re.match(QString::fromLatin1(last_));
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

void RawRtsp::sendInterleaved(int channel, const QByteArray& data)
{
    QByteArray frame;
    frame += '$';
    frame += static_cast<char>(channel);
    frame += static_cast<char>((data.size() >> 8) & 0xff);
    frame += static_cast<char>(data.size() & 0xff);
    sock_.write(frame + data);
    sock_.flush();
}

void RawRtsp::abort()
{
    sock_.abort();
    connected_ = false;
}

double RawRtsp::spanSeconds() const
{
    return haveTs_ ? static_cast<uint32_t>(lastTs_ - firstTs_) / 90000.0 : 0.0;
}

bool RawRtsp::parse()
{
    bool reply = false;
    for (;;) {
        if (in_.startsWith('$')) {
            if (in_.size() < 4)
                return reply;
            const int size = (static_cast<uint8_t>(in_[2]) << 8) | static_cast<uint8_t>(in_[3]);
            if (in_.size() < 4 + size)
                return reply;
            if (in_.at(1) == char(0))  // RTP; channel 1 is RTCP
                countRtp(reinterpret_cast<const uint8_t*>(in_.constData()) + 4, size);
            else if (in_.at(1) == char(1))
                countRtcp(reinterpret_cast<const uint8_t*>(in_.constData()) + 4, size);
            in_.remove(0, 4 + size);
        } else if (in_.startsWith("RTSP/")) {
            const int end = in_.indexOf("\r\n\r\n");
            if (end < 0)
                return reply;
            const QRegularExpression len("\r\nContent-Length:\\s*(\\d+)", QRegularExpression::CaseInsensitiveOption);
            const auto m = len.match(QString::fromLatin1(in_.left(end + 2)));
            const int total = end + 4 + (m.hasMatch() ? m.captured(1).toInt() : 0);
            if (in_.size() < total)
                return reply;
            last_ = in_.left(total);
            in_.remove(0, total);
            gotReply_ = reply = true;
        } else if (!in_.isEmpty()) {
            // Neither: the stream is out of step; drop a byte and look again.
            in_.remove(0, 1);
        } else {
            return reply;
        }
    }
}

void RawRtsp::countRtp(const uint8_t* p, int size)
{
    if (size < 12 || (p[0] >> 6) != 2)
        return;
    ++packets_;
    ssrcs_.insert((uint32_t(p[8]) << 24) | (uint32_t(p[9]) << 16) | (uint32_t(p[10]) << 8) | p[11]);
    const int csrc = p[0] & 0x0f;
    int header = 12 + 4 * csrc;
    if (p[0] & 0x10) {  // extension
        if (size < header + 4)
            return;
        header += 4 + 4 * ((p[header + 2] << 8) | p[header + 3]);
    }
    const bool marker = p[1] & 0x80;
    const uint32_t ts = (uint32_t(p[4]) << 24) | (uint32_t(p[5]) << 16) | (uint32_t(p[6]) << 8) | p[7];
    if (size > header) {
        const uint8_t* nal = p + header;
        const int type = nal[0] & 0x1f;
        if (type == 5)
            unitIsKey_ = true;
        else if (type == 28 && size > header + 1 && (nal[1] & 0x80) && (nal[1] & 0x1f) == 5)
            unitIsKey_ = true;  // first fragment of an IDR slice
        else if (type == 24) {  // several NAL units in one packet
            for (int i = header + 1; i + 2 < size;) {
                const int n = (p[i] << 8) | p[i + 1];
                if (n > 0 && i + 2 < size && (p[i + 2] & 0x1f) == 5)
                    unitIsKey_ = true;
                i += 2 + n;
            }
        }
    }
    if (marker) {
        if (units_ == 0)
            firstKey_ = unitIsKey_;
        ++units_;
        if (unitIsKey_)
            ++keyframes_;
        unitIsKey_ = false;
        if (!haveTs_) {
            firstTs_ = ts;
            haveTs_ = true;
        }
        lastTs_ = ts;
    }
}

void RawRtsp::countRtcp(const uint8_t* p, int size)
{
    // A compound packet: version 2 packets of (length + 1) words each.
    for (int off = 0; off + 4 <= size;) {
        if ((p[off] >> 6) != 2)
            return;
        if (p[off + 1] == 203)
            ++byes_;
        off += 4 * (((p[off + 2] << 8) | p[off + 3]) + 1);
    }
}
