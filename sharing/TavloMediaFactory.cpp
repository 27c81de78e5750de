#include "TavloMediaFactory.h"

#include "TavloMedia.h"
#include "TavloRtspServer.h"

#define GST_CAT_DEFAULT tavlo_sharing_debug

struct _TavloMediaFactory {
    GstRTSPMediaFactory parent_instance;
    gchar* name;
    gint generation;  // atomic: bumped when a media failed
};

G_DEFINE_TYPE(TavloMediaFactory, tavlo_media_factory, GST_TYPE_RTSP_MEDIA_FACTORY)

// Client thread.
static gchar* tavlo_media_factory_gen_key(GstRTSPMediaFactory* factory, const GstRTSPUrl* url)
{
    TavloMediaFactory* self = TAVLO_MEDIA_FACTORY(factory);
    GST_LOG("request for %s: the one stream", url ? url->abspath : "(none)");
    return g_strdup_printf("%s#%d", self->name, g_atomic_int_get(&self->generation));
}

static void tavlo_media_factory_finalize(GObject* object)
{
    g_free(TAVLO_MEDIA_FACTORY(object)->name);
    G_OBJECT_CLASS(tavlo_media_factory_parent_class)->finalize(object);
}

static void tavlo_media_factory_class_init(TavloMediaFactoryClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = tavlo_media_factory_finalize;
    GST_RTSP_MEDIA_FACTORY_CLASS(klass)->gen_key = tavlo_media_factory_gen_key;
}

static void tavlo_media_factory_init(TavloMediaFactory* self)
{
    self->name = nullptr;
    self->generation = 0;
    gst_rtsp_media_factory_set_media_gtype(GST_RTSP_MEDIA_FACTORY(self), TAVLO_TYPE_MEDIA);
}

GstRTSPMediaFactory* tavlo_media_factory_new(const gchar* name)
{
    auto* self = TAVLO_MEDIA_FACTORY(g_object_new(TAVLO_TYPE_MEDIA_FACTORY, nullptr));
    self->name = g_strdup(name);
    return GST_RTSP_MEDIA_FACTORY(self);
}

void tavlo_media_factory_renew(TavloMediaFactory* factory)
{
    g_atomic_int_inc(&factory->generation);
}
