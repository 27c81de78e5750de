#include "TavloMediaFactory.h"

#include "Classroom.h"
#include "TavloRtspServer.h"

#define GST_CAT_DEFAULT tavlo_sharing_debug

struct _TavloMediaFactory {
    GstRTSPMediaFactory parent_instance;
};

G_DEFINE_TYPE(TavloMediaFactory, tavlo_media_factory, GST_TYPE_RTSP_MEDIA_FACTORY)

static gchar* tavlo_media_factory_gen_key(GstRTSPMediaFactory*, const GstRTSPUrl* url)
{
    GST_LOG("request for %s: the one stream", url ? url->abspath : "(none)");
    return g_strdup(Classroom::STREAM_NAME);
}

static void tavlo_media_factory_class_init(TavloMediaFactoryClass* klass)
{
    GST_RTSP_MEDIA_FACTORY_CLASS(klass)->gen_key = tavlo_media_factory_gen_key;
}

static void tavlo_media_factory_init(TavloMediaFactory*) {}

GstRTSPMediaFactory* tavlo_media_factory_new(void)
{
    return GST_RTSP_MEDIA_FACTORY(g_object_new(TAVLO_TYPE_MEDIA_FACTORY, nullptr));
}
