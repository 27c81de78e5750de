#ifndef TAVLO_TAVLOMEDIA_H
#define TAVLO_TAVLOMEDIA_H

#include <gst/rtsp-server/rtsp-server.h>

G_BEGIN_DECLS

// The media (the shared pipeline) of a Tavlo stream. Beyond the library's
// own media it guards its RTP sessions against RTCP that claims our SSRC
// (RtcpGuard), and it tells its owner when the pipeline fails: the library
// only marks such a media as failed and answers every later request for it
// with 503, so the owner must replace it.
#define TAVLO_TYPE_MEDIA (tavlo_media_get_type())
G_DECLARE_FINAL_TYPE(TavloMedia, tavlo_media, TAVLO, MEDIA, GstRTSPMedia)

// Called in the media's own thread (where it handles its pipeline's bus)
// after an error message, with the message's text.
typedef void (*TavloMediaFailed)(GstRTSPMedia* media, const gchar* why, gpointer data);

// Sets the failure hook; destroy (may be null) releases data when the hook
// is replaced or the media goes.
void tavlo_media_set_failed_hook(TavloMedia* media, TavloMediaFailed hook, gpointer data, GDestroyNotify destroy);

G_END_DECLS

#endif
