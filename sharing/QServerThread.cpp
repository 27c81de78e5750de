#include "QServerThread.h"

#include "AppSrcFeeder.h"
#include "Classroom.h"
#include "QScreenThread.h"
#include "SharedPipeline.h"
#include "TavloRtspServer.h"

#include <QElapsedTimer>
#include <QException>
#include <cstdio>
#include <string>

QServerThread* ServerThread = nullptr;

namespace {

using Guard = GuardedOwner<QServerThread>;

// Client sessions that show no sign of life for this long are reclaimed.
const guint SESSION_TIMEOUT_S = 65;

// At teardown, how long the clients have to close themselves.
const qint64 CLOSE_WAIT_MS = 2000;

// Playing clients of the running server's full stream, and of its small one.
std::atomic<int> Watchers{0};
std::atomic<int> ThumbnailWatchers{0};

// Whether a request is for the small stream (its path, controls included).
bool forThumbnails(const GstRTSPContext* ctx)
{
    if (!ctx || !ctx->uri || !ctx->uri->abspath)
        return false;
    const std::string prefix = std::string("/") + Classroom::THUMBNAIL_STREAM_NAME;
    const std::string path = ctx->uri->abspath;
    return path.compare(0, prefix.size(), prefix) == 0 &&
           (path.size() == prefix.size() || path[prefix.size()] == '/');
}

// Set once a start failed, so that the announcement ticks don't retry.
bool StartFailed = false;

// Client thread.
void onNewSession(GstRTSPClient*, GstRTSPSession* session, gpointer)
{
    gst_rtsp_session_set_timeout(session, SESSION_TIMEOUT_S);
}

GstRTSPFilterResult countSession(GstRTSPClient*, GstRTSPSession*, gpointer count)
{
    ++*static_cast<int*>(count);
    return GST_RTSP_FILTER_KEEP;
}

// Client thread, before a SETUP is carried out: a SETUP without a session
// opens a new one, each with its own transport and its own share of the
// stream; a connection may hold one (a player needs no more). A SETUP in
// the connection's own session only changes its transport. The limit in
// all is the session pool's (503 Service Unavailable).
GstRTSPStatusCode onPreSetup(GstRTSPClient* client, GstRTSPContext* ctx, gpointer)
{
    if (ctx->session)
        return GST_RTSP_STS_OK;
    int sessions = 0;
    gst_rtsp_client_session_filter(client, countSession, &sessions);
    if (sessions < QServerThread::MAX_SESSIONS_PER_CONNECTION)
        return GST_RTSP_STS_OK;
    GST_CAT_INFO(tavlo_sharing_debug, "a further session on one connection refused");
    return GST_RTSP_STS_METHOD_NOT_VALID_IN_THIS_STATE;
}

// Client thread: after a request or a connection's end that may change who
// plays, count again now and once more in the server thread when the server
// library is done (two client threads counting at once may store their
// counts in the wrong order; the later count, and the one a second, mend it).
void scheduleRecount(gpointer guard)
{
    Guard::from(guard).run([](QServerThread& server) {
        server.recount();
        server.recountSoon();
    });
}

// Client thread: a client starts playing; it can decode from the next
// keyframe, which comes at once for the first watcher and within a second
// for a later one (every picture of the small stream is one, about once a
// second: a PLAY of it asks for nothing). Under the guard: once Stop has
// begun tearing down, the capture thread is not reached any more.
void onPlayRequest(GstRTSPClient*, GstRTSPContext* ctx, gpointer guard)
{
    const bool thumbnails = forThumbnails(ctx);
    Guard::from(guard).run([thumbnails](QServerThread& server) {
        if (!thumbnails)
            server.ScreenThread->requestKeyframe();
        server.recount();
        server.recountSoon();
    });
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

// Server thread: a connection was accepted; its SETUPs are checked and its
// requests that may change who plays are followed.
void configureClient(GstRTSPClient* client, gpointer owner)
{
    const Guard::Ref& guard = *static_cast<Guard::Ref*>(owner);
    g_signal_connect(client, "new-session", G_CALLBACK(onNewSession), nullptr);
    g_signal_connect(client, "pre-setup-request", G_CALLBACK(onPreSetup), nullptr);
    Guard::connect(client, "play-request", G_CALLBACK(onPlayRequest), guard);
    Guard::connect(client, "pause-request", G_CALLBACK(onClientChange), guard);
    Guard::connect(client, "teardown-request", G_CALLBACK(onClientChange), guard);
    Guard::connect(client, "closed", G_CALLBACK(onClientClosed), guard);
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

// Ends a client's connection under its feet: the client finds the end in
// its own thread and closes itself. Closing it from another thread
// (gst_rtsp_client_close) races with the client's own reading of the
// connection, and the client thread can be left spinning on the closed
// connection for good.
void shutDown(GstRTSPClient* client)
{
    GstRTSPConnection* connection = gst_rtsp_client_get_connection(client);
    if (!connection)
        return;
    GSocket* read = gst_rtsp_connection_get_read_socket(connection);
    GSocket* write = gst_rtsp_connection_get_write_socket(connection);
    if (read)
        g_socket_shutdown(read, TRUE, TRUE, nullptr);
    if (write && write != read)
        g_socket_shutdown(write, TRUE, TRUE, nullptr);
}

GstRTSPFilterResult shutDownClient(GstRTSPServer*, GstRTSPClient* client, gpointer clients)
{
    shutDown(client);
    ++*static_cast<int*>(clients);
    return GST_RTSP_FILTER_KEEP;
}

// For the clients that did not close themselves in time.
GstRTSPFilterResult closeClient(GstRTSPServer*, GstRTSPClient*, gpointer)
{
    return GST_RTSP_FILTER_REMOVE;  // the server closes it
}

// GUI thread, at teardown: the clients of a server close themselves,
// waited for up to CLOSE_WAIT_MS; the server closes the rest.
void closeClients(GstRTSPServer* server)
{
    QElapsedTimer waited;
    waited.start();
    int clients = 0;
    do {
        clients = 0;
        gst_rtsp_server_client_filter(server, shutDownClient, &clients);
        if (clients > 0)
            g_usleep(10000);
    } while (clients > 0 && waited.elapsed() < CLOSE_WAIT_MS);
    gst_rtsp_server_client_filter(server, closeClient, nullptr);
}

GstRTSPFilterResult dropSession(GstRTSPSessionPool*, GstRTSPSession*, gpointer)
{
    return GST_RTSP_FILTER_REMOVE;
}

// Whether a session plays a given media.
struct Uses {
    GstRTSPMedia* media;
    bool found = false;
};

GstRTSPFilterResult sessionMediaUses(GstRTSPSession*, GstRTSPSessionMedia* sessionMedia, gpointer uses)
{
    auto* u = static_cast<Uses*>(uses);
    if (gst_rtsp_session_media_get_media(sessionMedia) == u->media)
        u->found = true;
    return GST_RTSP_FILTER_KEEP;
}

bool sessionUses(GstRTSPSession* session, GstRTSPMedia* media)
{
    Uses uses{media};
    gst_rtsp_session_filter(session, sessionMediaUses, &uses);
    return uses.found;
}

GstRTSPFilterResult clientSessionUses(GstRTSPClient*, GstRTSPSession* session, gpointer uses)
{
    auto* u = static_cast<Uses*>(uses);
    if (sessionUses(session, u->media))
        u->found = true;
    return GST_RTSP_FILTER_KEEP;
}

GstRTSPFilterResult closeClientOf(GstRTSPServer*, GstRTSPClient* client, gpointer media)
{
    Uses uses{static_cast<GstRTSPMedia*>(media)};
    gst_rtsp_client_session_filter(client, clientSessionUses, &uses);
    if (uses.found)
        shutDown(client);
    return GST_RTSP_FILTER_KEEP;
}

GstRTSPFilterResult dropSessionOf(GstRTSPSessionPool*, GstRTSPSession* session, gpointer media)
{
    return sessionUses(session, static_cast<GstRTSPMedia*>(media)) ? GST_RTSP_FILTER_REMOVE : GST_RTSP_FILTER_KEEP;
}

// A failed pipeline on its way to the server thread: the media and the
// prepare held on it are given back whether or not the server is still
// there to close its clients.
struct FailedMedia {
    Guard::Ref guard;
    GstRTSPMedia* media;
    bool heldPrepared;
    ~FailedMedia()
    {
        if (heldPrepared)
            gst_rtsp_media_unprepare(media);
        g_object_unref(media);
    }
};

void destroySource(GSource*& source)
{
    if (source) {
        g_source_destroy(source);
        g_source_unref(source);
        source = nullptr;
    }
}

}  // namespace

QServerThread::QServerThread(QObject* parent, QScreenThread* AScreenThread, int ARtspPort, int AHttpPort,
                             std::optional<MulticastGroup> multicast)
    : QThread(parent), RtspPort(ARtspPort), HttpPort(AHttpPort), ScreenThread(AScreenThread),
      guard(Guard::create(this))
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    tavlo_sharing_debug_init();
    Context = g_main_context_new();

    Source = new AppSrcFeeder(ScreenThread);
    sms = new SharedPipeline(Classroom::STREAM_NAME, Source,
                             [this](GstRTSPMedia* media, bool held) { dropSoon(media, held); }, multicast);
    // The small stream is the console's alone: unicast only.
    ThumbnailSource = new AppSrcFeeder(ScreenThread, QScreenThread::Channel::Thumbnail);
    thumbs = new SharedPipeline(Classroom::THUMBNAIL_STREAM_NAME, ThumbnailSource,
                                [this](GstRTSPMedia* media, bool held) { dropSoon(media, held); });

    GstRTSPMountPoints* mounts = gst_rtsp_mount_points_new();
    for (const SharedPipeline* stream : {sms, thumbs}) {
        const std::string path = std::string("/") + stream->streamName();
        gst_rtsp_mount_points_add_factory(mounts, path.c_str(),
                                          GST_RTSP_MEDIA_FACTORY(g_object_ref(stream->factory())));
    }
    SessionPool = gst_rtsp_session_pool_new();
    gst_rtsp_session_pool_set_max_sessions(SessionPool, MAX_SESSIONS);

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
}

QServerThread::~QServerThread()
{
    teardown();
}

void QServerThread::teardown()
{
    // Waits for a client's handler that is running, then turns every later
    // one into a no-op: none reaches the capture thread any more.
    guard->forget();
    // Closing the clients below signals them: nothing is counted any more.
    closing = true;
    Watchers = 0;
    ThumbnailWatchers = 0;
    // No new connections, then no clients and no sessions: the pipeline's
    // last user is the prepare that kept it, given back by release.
    destroySource(RtspSource);
    destroySource(HttpSource);
    destroySource(CleanupSource);
    if (RtspServer)
        closeClients(RtspServer);
    if (HttpServer)
        closeClients(HttpServer);
    if (SessionPool)
        gst_rtsp_session_pool_filter(SessionPool, dropSession, nullptr);
    if (sms)
        sms->release();
    if (thumbs)
        thumbs->release();
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
    delete thumbs;
    thumbs = nullptr;
    delete Source;
    Source = nullptr;
    delete ThumbnailSource;
    ThumbnailSource = nullptr;
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

void QServerThread::Start(QObject* parent, uint32_t group)
{
    if (ServerThread || StartFailed)
        return;
    QScreenThread* screen = nullptr;
    QServerThread* server = nullptr;
    try {
        screen = new QScreenThread(parent, 1920, 1080, 30, 10, Classroom::BIT_RATE_BPS);
        // Display and shared memory now, so that a failure shows here.
        screen->setupCapture();
        server = new QServerThread(parent, screen, Classroom::LIVE_PORT, Classroom::HTTP_TUNNEL_PORT,
                                   MulticastGroup::of(group));
    } catch (const QException&) {
        // Already reported on stderr; the terminal goes on without sharing.
        delete screen;
        StartFailed = true;
        return;
    }
    // Pinned: where multicast viewers find the stream.
    if (const std::optional<MulticastGroup>& m = server->sms->multicast())
        std::printf("Screen sharing: multicast to %s port %u, TTL %u\n", m->address.c_str(), m->port, m->ttl);
    else
        std::printf("Screen sharing: group %u has no multicast address; unicast only\n", group);
    std::fflush(stdout);
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

int QServerThread::thumbnailWatchers()
{
    return ThumbnailWatchers;
}

namespace {
gboolean recountLater(gpointer guard)
{
    Guard::from(guard).run([](QServerThread& server) { server.recount(); });
    return G_SOURCE_REMOVE;
}
}  // namespace

gboolean QServerThread::dropLater(gpointer failed)
{
    auto* f = static_cast<FailedMedia*>(failed);
    f->guard->run([f](QServerThread& server) { server.drop(f->media); });
    return G_SOURCE_REMOVE;
}

void QServerThread::recountSoon()
{
    if (closing)
        return;
    GSource* idle = g_idle_source_new();
    g_source_set_callback(idle, recountLater, Guard::newRef(guard), &Guard::deleteRef);
    g_source_attach(idle, Context);
    g_source_unref(idle);
}

void QServerThread::dropSoon(GstRTSPMedia* media, bool heldPrepared)
{
    auto* failed = new FailedMedia{guard, media, heldPrepared};
    if (closing) {
        delete failed;  // the teardown closes every client anyway
        return;
    }
    GSource* idle = g_idle_source_new();
    g_source_set_callback(idle, &QServerThread::dropLater, failed,
                          [](gpointer f) { delete static_cast<FailedMedia*>(f); });
    g_source_attach(idle, Context);
    g_source_unref(idle);
}

void QServerThread::drop(GstRTSPMedia* media)
{
    // Its clients would wait for pictures that never come: they are told
    // (their connection ends) and their sessions go, and with them every
    // user of the failed pipeline (the held prepare goes with the call's
    // data).
    if (RtspServer)
        gst_rtsp_server_client_filter(RtspServer, closeClientOf, media);
    if (HttpServer)
        gst_rtsp_server_client_filter(HttpServer, closeClientOf, media);
    if (SessionPool)
        gst_rtsp_session_pool_filter(SessionPool, dropSessionOf, media);
    recount();
}

GstRTSPMedia* QServerThread::sharedMedia()
{
    return sms ? sms->media() : nullptr;
}

void QServerThread::recount()
{
    if (closing)
        return;
    const int n = sms ? sms->playing() : 0;
    if (Watchers.exchange(n) != n)
        GST_CAT_INFO(tavlo_sharing_debug, "%d client(s) playing", n);
    ScreenThread->setWatched(n > 0);
    const int t = thumbs ? thumbs->playing() : 0;
    if (ThumbnailWatchers.exchange(t) != t)
        GST_CAT_INFO(tavlo_sharing_debug, "%d client(s) playing the small stream", t);
    ScreenThread->setThumbnailWatched(t > 0);
}
