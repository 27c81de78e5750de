#include "QServerThread.h"

#include "Classroom.h"
#include "FFmpegH264Source.h"
#include "LiveServerMediaSubsession.h"
#include "QScreenThread.h"
#include "TavloRtspServer.h"

#include <QException>
#include <cstdio>
#include <mutex>
#include <string>

QServerThread* ServerThread = nullptr;

namespace {

// Client sessions that show no sign of life for this long are reclaimed.
const guint SESSION_TIMEOUT_S = 65;

// Capture thread that a new client's PLAY asks for a keyframe; null once
// the server is torn down. Written in the GUI thread, read in client threads.
std::atomic<QScreenThread*> KeyframeTarget{nullptr};

// Playing clients of the running server.
std::atomic<int> Watchers{0};

// Set once a start failed, so that the announcement ticks don't retry.
bool StartFailed = false;

// Client thread.
void onNewSession(GstRTSPClient*, GstRTSPSession* session, gpointer)
{
    gst_rtsp_session_set_timeout(session, SESSION_TIMEOUT_S);
}

}  // namespace

// A client may still be closing, and signalling, after the server is
// destroyed: its handlers run under this lock and find a null server once
// teardown has begun.
struct QServerThread::ClientGuard {
    std::mutex mutex;
    QServerThread* server;
};

namespace {

using ClientGuardRef = std::shared_ptr<QServerThread::ClientGuard>;

// Client thread: after a request or a connection's end that may change who
// plays, count again now and once more in the server thread when the server
// library is done (two client threads counting at once may store their
// counts in the wrong order; the later count, and the one a second, mend it).
void scheduleRecount(gpointer guard)
{
    QServerThread::ClientGuard& g = **static_cast<ClientGuardRef*>(guard);
    std::lock_guard<std::mutex> lock(g.mutex);
    if (!g.server)
        return;
    g.server->recount();
    g.server->recountSoon();
}

// Client thread: a client starts playing; it can decode from the next
// keyframe, which comes at once for the first watcher and within a second
// for a later one.
void onPlayRequest(GstRTSPClient*, GstRTSPContext*, gpointer guard)
{
    if (QScreenThread* target = KeyframeTarget.load())
        target->requestKeyframe();
    scheduleRecount(guard);
}

// Client thread: a client paused, tore down or went away.
void onClientChange(GstRTSPClient*, GstRTSPContext*, gpointer guard)
{
    scheduleRecount(guard);
}

void onClientClosed(GstRTSPClient*, gpointer guard)
{
    scheduleRecount(guard);
}

void connectGuarded(GstRTSPClient* client, const char* signal, GCallback handler, const ClientGuardRef& guard)
{
    g_signal_connect_data(
        client, signal, handler, new ClientGuardRef(guard),
        [](gpointer data, GClosure*) { delete static_cast<ClientGuardRef*>(data); }, GConnectFlags(0));
}

// Server thread: a connection was accepted; its requests that may change
// who plays are followed.
void configureClient(GstRTSPClient* client, gpointer owner)
{
    const ClientGuardRef& guard = *static_cast<ClientGuardRef*>(owner);
    g_signal_connect(client, "new-session", G_CALLBACK(onNewSession), nullptr);
    connectGuarded(client, "play-request", G_CALLBACK(onPlayRequest), guard);
    connectGuarded(client, "pause-request", G_CALLBACK(onClientChange), guard);
    connectGuarded(client, "teardown-request", G_CALLBACK(onClientChange), guard);
    connectGuarded(client, "closed", G_CALLBACK(onClientClosed), guard);
}

// Server thread, once a second: reclaims sessions that timed out, and
// counts the watchers again (a client that vanished without a word).
gboolean cleanupSessions(gpointer owner)
{
    auto* server = static_cast<QServerThread*>(owner);
    if (GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(server->RtspServer)) {
        gst_rtsp_session_pool_cleanup(pool);
        g_object_unref(pool);
    }
    server->recount();
    return G_SOURCE_CONTINUE;
}

GstRTSPFilterResult closeClient(GstRTSPServer*, GstRTSPClient* client, gpointer)
{
    gst_rtsp_client_close(client);
    return GST_RTSP_FILTER_REMOVE;
}

GstRTSPFilterResult dropSession(GstRTSPSessionPool*, GstRTSPSession*, gpointer)
{
    return GST_RTSP_FILTER_REMOVE;
}

void destroySource(GSource*& source)
{
    if (source) {
        g_source_destroy(source);
        g_source_unref(source);
        source = nullptr;
    }
}

}  // namespace

QServerThread::QServerThread(QObject* parent, QScreenThread* AScreenThread, int ARtspPort, int AHttpPort)
    : QThread(parent), RtspPort(ARtspPort), HttpPort(AHttpPort), ScreenThread(AScreenThread),
      guard(std::make_shared<ClientGuard>())
{
    guard->server = this;
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    tavlo_sharing_debug_init();
    Context = g_main_context_new();

    Source = FFmpegH264Source::createNew(Context, ScreenThread);
    sms = LiveServerMediaSubsession::createNew(Source);

    GstRTSPMountPoints* mounts = gst_rtsp_mount_points_new();
    const std::string path = std::string("/") + LiveServerMediaSubsession::STREAM_NAME;
    gst_rtsp_mount_points_add_factory(mounts, path.c_str(), GST_RTSP_MEDIA_FACTORY(g_object_ref(sms->factory())));
    SessionPool = gst_rtsp_session_pool_new();

    RtspServer = tavlo_rtsp_server_new(RtspPort, mounts, SessionPool, configureClient, &guard);
    GError* error = nullptr;
    RtspSource = gst_rtsp_server_create_source(RtspServer, nullptr, &error);
    if (!RtspSource) {
        std::fprintf(stderr, "Screen sharing is off: the RTSP server cannot listen on port %d (%s)\n", RtspPort,
                     error ? error->message : "unknown error");
        g_clear_error(&error);
        g_object_unref(mounts);
        teardown();
        throw QException();
    }
    g_source_attach(RtspSource, Context);

    // RTSP over HTTP: the same mount points and sessions on a second port.
    // Without it plain RTSP still works.
    if (HttpPort != 0) {
        HttpServer = tavlo_rtsp_server_new(HttpPort, mounts, SessionPool, configureClient, &guard);
        HttpSource = gst_rtsp_server_create_source(HttpServer, nullptr, &error);
        if (HttpSource) {
            g_source_attach(HttpSource, Context);
        } else {
            std::fprintf(stderr, "RTSP over HTTP is off: port %d cannot be opened (%s)\n", HttpPort,
                         error ? error->message : "unknown error");
            g_clear_error(&error);
            g_object_unref(HttpServer);
            HttpServer = nullptr;
        }
    }
    g_object_unref(mounts);

    CleanupSource = g_timeout_source_new_seconds(1);
    g_source_set_callback(CleanupSource, cleanupSessions, this, nullptr);
    g_source_attach(CleanupSource, Context);

    KeyframeTarget = ScreenThread;
}

QServerThread::~QServerThread()
{
    teardown();
}

void QServerThread::teardown()
{
    KeyframeTarget = nullptr;
    {
        // Waits for a client's handler that is running, then turns every
        // later one into a no-op.
        std::lock_guard<std::mutex> lock(guard->mutex);
        guard->server = nullptr;
    }
    // Closing the clients below signals them: nothing is counted any more.
    closing = true;
    Watchers = 0;
    // No new connections, then no clients and no sessions: the pipeline's
    // last user is the prepare that kept it, given back by release.
    destroySource(RtspSource);
    destroySource(HttpSource);
    destroySource(CleanupSource);
    if (RtspServer)
        gst_rtsp_server_client_filter(RtspServer, closeClient, nullptr);
    if (HttpServer)
        gst_rtsp_server_client_filter(HttpServer, closeClient, nullptr);
    if (SessionPool)
        gst_rtsp_session_pool_filter(SessionPool, dropSession, nullptr);
    if (sms)
        sms->release();
    if (RtspServer) {
        g_object_unref(RtspServer);
        RtspServer = nullptr;
    }
    if (HttpServer) {
        g_object_unref(HttpServer);
        HttpServer = nullptr;
    }
    if (SessionPool) {
        g_object_unref(SessionPool);
        SessionPool = nullptr;
    }
    delete sms;
    sms = nullptr;
    delete Source;
    Source = nullptr;
    if (Context) {
        g_main_context_unref(Context);
        Context = nullptr;
    }
}

void QServerThread::run()
{
    g_main_context_push_thread_default(Context);
    // Stop sets quit, then wakes the context: no polling needed.
    while (!quit)
        g_main_context_iteration(Context, TRUE);
    g_main_context_pop_thread_default(Context);
}

void QServerThread::Start(QObject* parent)
{
    if (ServerThread || StartFailed)
        return;
    QScreenThread* screen = nullptr;
    QServerThread* server = nullptr;
    try {
        screen = new QScreenThread(parent, 1920, 1080, 30, 10, Classroom::BIT_RATE_BPS);
        // Display and shared memory now, so that a failure shows here.
        screen->setupCapture();
        server = new QServerThread(parent, screen, Classroom::LIVE_PORT, Classroom::HTTP_TUNNEL_PORT);
    } catch (const QException&) {
        // Already reported on stderr; the terminal goes on without sharing.
        delete screen;
        StartFailed = true;
        return;
    }
    ServerThread = server;
    screen->start(QThread::InheritPriority);
    server->start(QThread::InheritPriority);
}

void QServerThread::Stop()
{
    QServerThread* server = ServerThread;
    if (!server)
        return;
    ServerThread = nullptr;
    server->quit = 1;
    g_main_context_wakeup(server->Context);
    QScreenThread* screen = server->ScreenThread;
    screen->requestStop();
    const bool serverDone = server->wait(3000);
    const bool screenDone = screen->wait(3000);
    if (!serverDone || !screenDone) {
        // Left running rather than destroyed under a live thread.
        std::fprintf(stderr, "Screen sharing did not stop in time\n");
        return;
    }
    delete server;
    delete screen;
}

int QServerThread::GetStatus()
{
    return ServerThread ? 1 : 0;
}

int QServerThread::watchers()
{
    return Watchers;
}

namespace {
gboolean recountLater(gpointer owner)
{
    static_cast<QServerThread*>(owner)->recount();
    return G_SOURCE_REMOVE;
}
}  // namespace

void QServerThread::recountSoon()
{
    if (closing)
        return;
    GSource* idle = g_idle_source_new();
    g_source_set_callback(idle, recountLater, this, nullptr);
    g_source_attach(idle, Context);
    g_source_unref(idle);
}

void QServerThread::recount()
{
    if (closing)
        return;
    const int n = sms ? sms->playing() : 0;
    if (Watchers.exchange(n) != n)
        GST_CAT_INFO(tavlo_sharing_debug, "%d client(s) playing", n);
    ScreenThread->setWatched(n > 0);
}
