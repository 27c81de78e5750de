// The RTSP server in this process: start, stop and status, and what it
// answers on the wire (session description, transports, session timeout).
#include "QServerThread.h"
#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <gtest/gtest.h>

namespace {

// One RTSP request and its whole response (headers and body).
QByteArray request(QTcpSocket& s, const QByteArray& text)
{
    s.write(text);
    s.flush();
    QByteArray in;
    QDeadlineTimer deadline(tsupport::SLOW_MS);
    while (!deadline.hasExpired()) {
        s.waitForReadyRead(100);
        in += s.readAll();
        const int end = in.indexOf("\r\n\r\n");
        if (end < 0)
            continue;
        QRegularExpression re("Content-Length:\\s*(\\d+)", QRegularExpression::CaseInsensitiveOption);
        auto m = re.match(QString::fromLatin1(in.left(end)));
        const int body = m.hasMatch() ? m.captured(1).toInt() : 0;
        if (in.size() >= end + 4 + body)
            return in;
    }
    return in;
}

QByteArray describe(int port)
{
    QTcpSocket s;
    s.connectToHost("127.0.0.1", static_cast<quint16>(port));
    if (!s.waitForConnected(tsupport::SLOW_MS))
        return {};
    return request(s, QString("DESCRIBE rtsp://127.0.0.1:%1/cam_passby_chn0 RTSP/1.0\r\nCSeq: 1\r\n"
                              "Accept: application/sdp\r\n\r\n")
                          .arg(port)
                          .toLatin1());
}

}  // namespace

TEST(Server, StartStatusDescribeAndStop)
{
    tsupport::XServer x(1920, 1080, false);
    ASSERT_TRUE(x.ok());
    qputenv("DISPLAY", x.display().toUtf8());

    EXPECT_EQ(QServerThread::GetStatus(), 0);
    QServerThread::Stop();  // nothing to stop
    EXPECT_EQ(QServerThread::GetStatus(), 0);

    QServerThread::Start(nullptr);
    ASSERT_EQ(QServerThread::GetStatus(), 1);
    QServerThread* first = ServerThread;
    ASSERT_NE(first, nullptr);
    // Every announcement tick calls Start; only the first one does anything.
    QServerThread::Start(nullptr);
    QServerThread::Start(nullptr);
    EXPECT_EQ(ServerThread, first);
    EXPECT_EQ(first->RtspPort, 5000);
    EXPECT_EQ(first->HttpPort, 8080);

    const QByteArray sdpReply = describe(5000);
    ASSERT_TRUE(sdpReply.startsWith("RTSP/1.0 200 OK")) << sdpReply.constData();
    const QString sdp = QString::fromLatin1(sdpReply.mid(sdpReply.indexOf("\r\n\r\n") + 4));
    EXPECT_TRUE(sdp.contains("\ns=RTSP Streaming Session\r\n")) << sdp.toStdString();
    EXPECT_TRUE(sdp.contains("\ni=cam_passby_chn0\r\n")) << sdp.toStdString();
    EXPECT_EQ(sdp.count("\nm="), 1) << "one stream";
    EXPECT_TRUE(sdp.contains(QRegularExpression("\nm=video 0 RTP/AVP 96\r\n"))) << sdp.toStdString();
    EXPECT_TRUE(sdp.contains("a=rtpmap:96 H264/90000")) << sdp.toStdString();
    EXPECT_EQ(sdp.count("\nb="), 1);
    EXPECT_TRUE(sdp.contains("\nb=AS:4000\r\n")) << sdp.toStdString();

    // The tunnelling port speaks plain RTSP as well, on the same stream.
    const QByteArray viaHttpPort = describe(8080);
    EXPECT_TRUE(viaHttpPort.startsWith("RTSP/1.0 200 OK")) << viaHttpPort.constData();
    EXPECT_TRUE(viaHttpPort.contains("s=RTSP Streaming Session"));

    // SETUP over UDP: server ports from 6970, sessions reclaimed after 65 s.
    {
        QTcpSocket s;
        s.connectToHost("127.0.0.1", 5000);
        ASSERT_TRUE(s.waitForConnected(tsupport::SLOW_MS));
        const QByteArray reply =
            request(s, "SETUP rtsp://127.0.0.1:5000/cam_passby_chn0/stream=0 RTSP/1.0\r\nCSeq: 2\r\n"
                       "Transport: RTP/AVP;unicast;client_port=40000-40001\r\n\r\n");
        ASSERT_TRUE(reply.startsWith("RTSP/1.0 200 OK")) << reply.constData();
        QRegularExpression ports("server_port=(\\d+)-(\\d+)");
        auto m = ports.match(QString::fromLatin1(reply));
        ASSERT_TRUE(m.hasMatch()) << reply.constData();
        EXPECT_GE(m.captured(1).toInt(), 6970);
        EXPECT_LT(m.captured(1).toInt(), 7970);
        EXPECT_EQ(m.captured(2).toInt(), m.captured(1).toInt() + 1);
        EXPECT_TRUE(reply.contains(";timeout=65")) << reply.constData();
    }
    // Interleaved over the RTSP connection.
    {
        QTcpSocket s;
        s.connectToHost("127.0.0.1", 5000);
        ASSERT_TRUE(s.waitForConnected(tsupport::SLOW_MS));
        const QByteArray reply =
            request(s, "SETUP rtsp://127.0.0.1:5000/cam_passby_chn0/stream=0 RTSP/1.0\r\nCSeq: 2\r\n"
                       "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
        ASSERT_TRUE(reply.startsWith("RTSP/1.0 200 OK")) << reply.constData();
        EXPECT_TRUE(reply.contains("interleaved=0-1")) << reply.constData();
    }

    QServerThread::Stop();
    EXPECT_EQ(QServerThread::GetStatus(), 0);
    EXPECT_EQ(ServerThread, nullptr);
    // Stopped means released: the port is free again.
    QTcpSocket s;
    s.connectToHost("127.0.0.1", 5000);
    EXPECT_FALSE(s.waitForConnected(2000));
    QServerThread::Stop();
    EXPECT_EQ(QServerThread::GetStatus(), 0);
}
