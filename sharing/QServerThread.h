#ifndef TAVLO_QSERVERTHREAD_H
#define TAVLO_QSERVERTHREAD_H

#include "GuardedOwner.h"
#include "MulticastGroup.h"

#include <QThread>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

// The GStreamer and GLib types are only pointed to here, so that users of
// this header need none of those headers.
typedef struct _GMainContext GMainContext;
typedef struct _GSource GSource;
typedef struct _GstRTSPMedia GstRTSPMedia;
typedef struct _GstRTSPServer GstRTSPServer;
typedef struct _GstRTSPSessionPool GstRTSPSessionPool;

class QScreenThread;
class AppSrcFeeder;
class SharedPipeline;

// The live RTSP server of this terminal's screen: port 5000 (and 8080 for
// RTSP over HTTP), the stream "cam_passby_chn0" served to any number of
// clients from the one capture thread, which pushes every access unit
// straight into the stream's pipeline, and beside it the small stream
// "cam_passby_chn1" (the console's thumbnails) from the same grabs, with a
// pipeline of its own. Clients may take the full stream over UDP, over TCP
// (interleaved in the RTSP connection) or, where the terminal's group number
// has one (MulticastGroup), from the group's multicast address: one copy on
// the wire however many watch that way. The server thread iterates its own
// GLib main context (the listening sockets, the once-a-second session
// clean-up, the replacement of a failed pipeline); the RTSP clients
// themselves are served by the server library's client threads.
//
// Limits: one session per connection (what a player needs), MAX_SESSIONS
// in all, a listen backlog of 64; the rest is refused with an RTSP error.
//
// Set-up failures write one line to stderr and throw QException.
class QServerThread : public QThread {
public:
    // Sessions in all (a classroom has some 30 groups), and per connection.
    static constexpr int MAX_SESSIONS = 64;
    static constexpr int MAX_SESSIONS_PER_CONNECTION = 1;

    // GUI thread: builds the whole server (listening sockets included);
    // the stream is also offered to the multicast group, if given one.
    QServerThread(QObject* parent, QScreenThread* AScreenThread, int ARtspPort, int AHttpPort,
                  std::optional<MulticastGroup> multicast = std::nullopt);
    // GUI thread, once the server thread has ended: tears everything down,
    // the capture thread included (which must have ended too).
    ~QServerThread() override;

    // GUI thread. The first call starts screen capture and the server of
    // group number group (0: the teacher's console), multicast included
    // where the group has an address; later calls do nothing. A set-up
    // failure is reported once on stderr and screen sharing stays off (no
    // retry).
    static void Start(QObject* parent, uint32_t group = 0);
    // GUI thread: ends the server loop and the capture loop and waits for
    // both (at most 3 s each) before releasing them.
    static void Stop();
    // 1 while a server runs, else 0.
    static int GetStatus();
    // Any thread: how many clients play the full stream right now (0 without
    // a server): who is shown this screen, or looks at it closely. A client
    // counts from its PLAY until its TEARDOWN or PAUSE, its connection's end,
    // or its session's timeout.
    static int watchers();
    // Any thread: the same for the small stream (the console's thumbnails),
    // which is not being shown.
    static int thumbnailWatchers();

    // Server or client thread: counts the playing clients again and tells
    // the capture thread whether anybody watches.
    void recount();
    // Any thread: recount in the server thread once the event at hand has
    // been dealt with.
    void recountSoon();

    // Any thread: the pipeline that serves the stream now (a new reference,
    // or null before the first client), for diagnostics and tests.
    GstRTSPMedia* sharedMedia();

    GstRTSPServer* RtspServer = nullptr;
    std::atomic<char> quit{0};
    int RtspPort;
    int HttpPort;
    QScreenThread* ScreenThread;

protected:
    // Server thread: the event loop, until quit is set and the context woken
    // (Stop does both).
    void run() override;

private:
    using Guard = GuardedOwner<QServerThread>;

    void teardown();
    // Media thread: a failed pipeline is let go in the server thread.
    void dropSoon(GstRTSPMedia* media, bool heldPrepared);
    // Server thread: closes the clients that play a failed pipeline and
    // drops their sessions, which lets the pipeline go.
    void drop(GstRTSPMedia* media);
    static int dropLater(void* failed);

    // What the client threads' signal handlers and deferred calls hold
    // instead of a bare pointer to the server.
    Guard::Ref guard;

    std::atomic<bool> closing{false};

    GMainContext* Context = nullptr;
    GstRTSPServer* HttpServer = nullptr;
    GstRTSPSessionPool* SessionPool = nullptr;
    GSource* RtspSource = nullptr;
    GSource* HttpSource = nullptr;
    GSource* CleanupSource = nullptr;
    AppSrcFeeder* Source = nullptr;
    SharedPipeline* sms = nullptr;
    // The small stream, cam_passby_chn1.
    AppSrcFeeder* ThumbnailSource = nullptr;
    SharedPipeline* thumbs = nullptr;
};

// The running server, null when there is none. GUI thread only.
extern QServerThread* ServerThread;

#endif
