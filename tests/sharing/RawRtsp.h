// A small RTSP client for tests that speaks the protocol by hand: it can
// send what a well-behaved client never would (SETUP of odd paths, PLAY
// without SETUP, PLAY after PLAY, an abrupt close), and it counts what
// arrives interleaved on its connection without decoding it: RTP packets,
// access units (ended by the marker bit), keyframes (access units with an
// IDR slice) and the span of their RTP timestamps.
#ifndef TAVLO_TESTS_RAWRTSP_H
#define TAVLO_TESTS_RAWRTSP_H

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QTcpSocket>
#include <cstdint>
#include <functional>
#include <set>

class RawRtsp {
public:
    // Connects to the server at host (loopback unless named); from a given
    // local address when one is named (another host, as far as the server
    // can tell).
    explicit RawRtsp(int port = 5000, const QHostAddress& from = QHostAddress(),
                     const QString& host = "127.0.0.1");
    ~RawRtsp();

    bool connected() const { return connected_; }
    // The stream's address on this client's port, with an optional suffix.
    QString url(const QString& suffix = QString()) const;
    // The stream asked for from now on (default the full stream,
    // "cam_passby_chn0").
    void setStream(const QString& name) { stream_ = name; }

    // One request (CSeq and, once known, Session added) and the reply's
    // status code; 0 when no reply came. The reply's text is kept in last().
    int request(const QByteArray& method, const QString& url, const QByteArray& headers = QByteArray());
    const QByteArray& last() const { return last_; }
    const QByteArray& session() const { return session_; }
    // Requests from now on carry no Session header (or this one again).
    void forgetSession() { session_.clear(); }
    void useSession(const QByteArray& session) { session_ = session; }
    // From the last reply's Transport header: the stream's SSRC and the
    // server's RTP port (0 when absent).
    uint32_t transportSsrc() const;
    int serverRtpPort() const;

    // Sends raw bytes interleaved on a channel of the RTSP connection.
    void sendInterleaved(int channel, const QByteArray& data);

    // SETUP over the RTSP connection (interleaved 0-1), then PLAY: the
    // status of the PLAY (0 when the SETUP failed).
    int setupAndPlay();

    // Reads until done() holds (true) or the deadline passes (false).
    bool receiveUntil(const std::function<bool()>& done, int timeoutMs);
    // Closes the connection without TEARDOWN (a reset where possible).
    void abort();

    int packets() const { return packets_; }
    int accessUnits() const { return units_; }
    int keyframes() const { return keyframes_; }
    // Whether the first access unit received was a keyframe.
    bool startedWithKeyframe() const { return firstKey_; }
    // The SSRCs the RTP came with, and the RTCP BYE packets received.
    const std::set<uint32_t>& ssrcs() const { return ssrcs_; }
    int byes() const { return byes_; }
    // Seconds of stream between the first and the last access unit, by the
    // RTP clock (90 kHz), so by the server's stamps, not by when they arrive.
    double spanSeconds() const;

private:
    // Takes what is buffered apart: replies into last_, RTP into the counts.
    // True once a whole reply was taken.
    bool parse();
    void countRtp(const uint8_t* p, int size);
    void countRtcp(const uint8_t* p, int size);

    QTcpSocket sock_;
    QString host_;
    int port_;
    QString stream_ = "cam_passby_chn0";
    bool connected_ = false;
    int cseq_ = 0;
    QByteArray in_, last_, session_;
    bool gotReply_ = false;
    int packets_ = 0, units_ = 0, keyframes_ = 0;
    bool unitIsKey_ = false;
    bool firstKey_ = false;
    bool haveTs_ = false;
    uint32_t firstTs_ = 0, lastTs_ = 0;
    std::set<uint32_t> ssrcs_;
    int byes_ = 0;
};

#endif
