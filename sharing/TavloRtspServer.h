#ifndef TAVLO_TAVLORTSPSERVER_H
#define TAVLO_TAVLORTSPSERVER_H

// The GObject side of the RTSP server: a server whose clients write this
// terminal's texts into the session description, and a hook through which
// its owner sees every new client. Also the GStreamer debug category of the
// sharing glue ("tavlo-sharing"; GST_DEBUG=tavlo-sharing:5 shows it).

#include <gst/rtsp-server/rtsp-server.h>

G_BEGIN_DECLS

GST_DEBUG_CATEGORY_EXTERN(tavlo_sharing_debug);
// Registers the debug category; any thread, idempotent. Needs gst_init.
void tavlo_sharing_debug_init(void);

// A client whose session description carries the stream's texts
// (SharedPipeline::describe), whose UDP transports are refused for ports
// that are not ordinary client ports (tavlo_client_ports_allowed), and
// whose multicast transports get the stream's group, ports and TTL, never
// the client's (tavlo_forget_client_multicast_choice).
#define TAVLO_TYPE_RTSP_CLIENT (tavlo_rtsp_client_get_type())
G_DECLARE_FINAL_TYPE(TavloRtspClient, tavlo_rtsp_client, TAVLO, RTSP_CLIENT, GstRTSPClient)

// Called in the server's thread for every accepted connection, with the
// new client (the hook may connect to its signals) and the hook's data.
typedef void (*TavloClientHook)(GstRTSPClient* client, gpointer data);

// Client ports below this are system services', never a player's.
#define TAVLO_LOWEST_CLIENT_PORT 1024
// Whether a UDP client may have RTP sent to port min and RTCP to max (-1:
// min + 1): ports from TAVLO_LOWEST_CLIENT_PORT on, except the classroom
// port, on which the host and every terminal take commands.
gboolean tavlo_client_ports_allowed(gint min, gint max);

// Clears what a multicast transport asked for (destination, port, TTL),
// so that the server fills in the stream's own; other transports are left
// as they are.
void tavlo_forget_client_multicast_choice(GstRTSPTransport* ct);

// Connections that may wait to be accepted: a whole classroom connecting
// in the same moment (the library's default is 5; the connections past it
// wait for the kernel's retry, a second or more).
#define TAVLO_LISTEN_BACKLOG 64

// A server that makes TavloRtspClients, set up like the library's own
// clients (session pool, mount points, thread pool, content limit), with a
// listen backlog of TAVLO_LISTEN_BACKLOG.
#define TAVLO_TYPE_RTSP_SERVER (tavlo_rtsp_server_get_type())
G_DECLARE_FINAL_TYPE(TavloRtspServer, tavlo_rtsp_server, TAVLO, RTSP_SERVER, GstRTSPServer)

// A server on the given port over these mount points and sessions (both
// shared, not taken over); hook may be null.
GstRTSPServer* tavlo_rtsp_server_new(int port, GstRTSPMountPoints* mounts, GstRTSPSessionPool* sessions,
                                     TavloClientHook hook, gpointer hook_data);

G_END_DECLS

#endif
