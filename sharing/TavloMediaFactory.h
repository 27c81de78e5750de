#ifndef TAVLO_TAVLOMEDIAFACTORY_H
#define TAVLO_TAVLOMEDIAFACTORY_H

#include <gst/rtsp-server/rtsp-server.h>

G_BEGIN_DECLS

// The media factory of one mount: every request that reaches it finds the
// one shared media (a TavloMedia), whatever its path, stream suffix or
// port. The library's own key holds the port and the whole path, so each
// of those requests would build a second pipeline, take the one source
// over to it and leave it unbound when that client goes.
//
// After a pipeline fails, renew() makes the next request build a new media
// while the failed one is let go.
#define TAVLO_TYPE_MEDIA_FACTORY (tavlo_media_factory_get_type())
G_DECLARE_FINAL_TYPE(TavloMediaFactory, tavlo_media_factory, TAVLO, MEDIA_FACTORY, GstRTSPMediaFactory)

// A factory whose media are keyed by name (the mount's stream name).
GstRTSPMediaFactory* tavlo_media_factory_new(const gchar* name);

// Any thread: requests from now on get a new media.
void tavlo_media_factory_renew(TavloMediaFactory* factory);

G_END_DECLS

#endif
