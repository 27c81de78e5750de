#include "TavloRtspServer.h"

#include "Classroom.h"
#include "MulticastGroup.h"
#include "SharedPipeline.h"

#include <string>

GST_DEBUG_CATEGORY(tavlo_sharing_debug);
#define GST_CAT_DEFAULT tavlo_sharing_debug

void tavlo_sharing_debug_init(void)
{
    static gsize once = 0;
    if (g_once_init_enter(&once)) {
        GST_DEBUG_CATEGORY_INIT(tavlo_sharing_debug, "tavlo-sharing", 0, "Tavlo screen sharing");
        g_once_init_leave(&once, 1);
    }
}

// ---- the client

struct _TavloRtspClient {
    GstRTSPClient parent_instance;
};

G_DEFINE_TYPE(TavloRtspClient, tavlo_rtsp_client, GST_TYPE_RTSP_CLIENT)

static GstSDPMessage* tavlo_rtsp_client_create_sdp(GstRTSPClient* client, GstRTSPMedia* media)
{
    GstSDPMessage* sdp = GST_RTSP_CLIENT_CLASS(tavlo_rtsp_client_parent_class)->create_sdp(client, media);
    if (sdp)
        SharedPipeline::describe(sdp, media);
    return sdp;
}

gboolean tavlo_client_ports_allowed(gint min, gint max)
{
    // A client that names one port gets RTCP on the next one.
    if (max < 0)
        max = min + 1;
    for (const gint port : {min, max})
        if (port < TAVLO_LOWEST_CLIENT_PORT || port > 65535 || port == Classroom::CLASSROOM_PORT)
            return FALSE;
    return TRUE;
}

void tavlo_forget_client_multicast_choice(GstRTSPTransport* ct)
{
    if (ct->lower_transport != GST_RTSP_LOWER_TRANS_UDP_MCAST)
        return;
    g_free(ct->destination);
    ct->destination = nullptr;
    ct->ttl = 0;
    ct->port.min = -1;
    ct->port.max = -1;
}

// Client thread, at SETUP: a UDP client may only have RTP and RTCP sent to
// ports of its own that no system service and no classroom terminal
// listens on; anything else is refused with 461 Unsupported Transport. A
// multicast client gets the stream's own group, ports and TTL, whatever it
// named: the library would otherwise let a client (with an authorisation
// object that allows it) send the stream anywhere with any TTL.
static gboolean tavlo_rtsp_client_configure_client_transport(GstRTSPClient* client, GstRTSPContext* ctx,
                                                             GstRTSPTransport* ct)
{
    if (ct->lower_transport == GST_RTSP_LOWER_TRANS_UDP &&
        !tavlo_client_ports_allowed(ct->client_port.min, ct->client_port.max)) {
        GST_INFO_OBJECT(client, "client ports %d-%d refused", ct->client_port.min, ct->client_port.max);
        return FALSE;
    }
    if (ct->lower_transport == GST_RTSP_LOWER_TRANS_UDP_MCAST && (ct->destination || ct->ttl || ct->port.min >= 0))
        GST_INFO_OBJECT(client, "multicast destination %s, port %d, ttl %u asked for: the stream's own is used",
                        ct->destination ? ct->destination : "-", ct->port.min, ct->ttl);
    tavlo_forget_client_multicast_choice(ct);
    if (ct->lower_transport == GST_RTSP_LOWER_TRANS_UDP_MCAST && ctx->stream) {
        // Refused (461) while the host has no route for the group: the
        // client takes another transport, and the pipeline stays up.
        GstRTSPAddress* group = gst_rtsp_stream_get_multicast_address(ctx->stream, G_SOCKET_FAMILY_IPV4);
        const bool usable = group && MulticastGroup::routable(group->address, static_cast<uint16_t>(group->port));
        if (!usable)
            GST_INFO_OBJECT(client, "multicast refused: no route to the group %s", group ? group->address : "-");
        if (group)
            gst_rtsp_address_free(group);
        if (!usable)
            return FALSE;
    }
    return GST_RTSP_CLIENT_CLASS(tavlo_rtsp_client_parent_class)->configure_client_transport(client, ctx, ct);
}

static void tavlo_rtsp_client_class_init(TavloRtspClientClass* klass)
{
    GstRTSPClientClass* client = GST_RTSP_CLIENT_CLASS(klass);
    client->create_sdp = tavlo_rtsp_client_create_sdp;
    client->configure_client_transport = tavlo_rtsp_client_configure_client_transport;
}

static void tavlo_rtsp_client_init(TavloRtspClient*) {}

// ---- the server

struct _TavloRtspServer {
    GstRTSPServer parent_instance;
    TavloClientHook hook;
    gpointer hook_data;
};

G_DEFINE_TYPE(TavloRtspServer, tavlo_rtsp_server, GST_TYPE_RTSP_SERVER)

// Server thread: a connection was accepted.
static GstRTSPClient* tavlo_rtsp_server_create_client(GstRTSPServer* server)
{
    auto* client = GST_RTSP_CLIENT(g_object_new(TAVLO_TYPE_RTSP_CLIENT, nullptr));
    if (GstRTSPSessionPool* pool = gst_rtsp_server_get_session_pool(server)) {
        gst_rtsp_client_set_session_pool(client, pool);
        g_object_unref(pool);
    }
    if (GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server)) {
        gst_rtsp_client_set_mount_points(client, mounts);
        g_object_unref(mounts);
    }
    if (GstRTSPThreadPool* threads = gst_rtsp_server_get_thread_pool(server)) {
        gst_rtsp_client_set_thread_pool(client, threads);
        g_object_unref(threads);
    }
    gst_rtsp_client_set_content_length_limit(client, gst_rtsp_server_get_content_length_limit(server));
    TavloRtspServer* self = TAVLO_RTSP_SERVER(server);
    if (self->hook)
        self->hook(client, self->hook_data);
    GST_DEBUG("new client %p", static_cast<void*>(client));
    return client;
}

static void tavlo_rtsp_server_class_init(TavloRtspServerClass* klass)
{
    GST_RTSP_SERVER_CLASS(klass)->create_client = tavlo_rtsp_server_create_client;
}

static void tavlo_rtsp_server_init(TavloRtspServer* self)
{
    self->hook = nullptr;
    self->hook_data = nullptr;
}

GstRTSPServer* tavlo_rtsp_server_new(int port, GstRTSPMountPoints* mounts, GstRTSPSessionPool* sessions,
                                     TavloClientHook hook, gpointer hook_data)
{
    auto* self = TAVLO_RTSP_SERVER(g_object_new(TAVLO_TYPE_RTSP_SERVER, nullptr));
    self->hook = hook;
    self->hook_data = hook_data;
    auto* server = GST_RTSP_SERVER(self);
    const std::string service = std::to_string(port);
    gst_rtsp_server_set_service(server, service.c_str());
    gst_rtsp_server_set_backlog(server, TAVLO_LISTEN_BACKLOG);
    gst_rtsp_server_set_mount_points(server, mounts);
    gst_rtsp_server_set_session_pool(server, sessions);
    return server;
}
