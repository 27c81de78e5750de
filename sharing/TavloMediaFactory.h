#ifndef TAVLO_TAVLOMEDIAFACTORY_H
#define TAVLO_TAVLOMEDIAFACTORY_H

#include <gst/rtsp-server/rtsp-server.h>

G_BEGIN_DECLS

// A media factory with one key for every request that reaches it: the
// stream's path, its stream URL (".../stream=0"), any other suffix, on 5000
// or through the tunnel on 8080, all find the one shared pipeline. The
// default key holds the port and the whole path, so each of those requests
// would build a second pipeline, take the one source over to it and leave
// it unbound when that client goes.
#define TAVLO_TYPE_MEDIA_FACTORY (tavlo_media_factory_get_type())
G_DECLARE_FINAL_TYPE(TavloMediaFactory, tavlo_media_factory, TAVLO, MEDIA_FACTORY, GstRTSPMediaFactory)

GstRTSPMediaFactory* tavlo_media_factory_new(void);

G_END_DECLS

#endif
