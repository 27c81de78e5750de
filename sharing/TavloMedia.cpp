#include "TavloMedia.h"

#include "RtcpGuard.h"
#include "TavloRtspServer.h"

#include <mutex>

#define GST_CAT_DEFAULT tavlo_sharing_debug

struct _TavloMedia {
    GstRTSPMedia parent_instance;
    std::mutex* lock;  // protects the hook
    TavloMediaFailed failed;
    gpointer failed_data;
    GDestroyNotify failed_destroy;
};

G_DEFINE_TYPE(TavloMedia, tavlo_media, GST_TYPE_RTSP_MEDIA)

static gboolean tavlo_media_setup_rtpbin(GstRTSPMedia* media, GstElement* rtpbin)
{
    // Before any stream joins, so that every session's RTCP pad is guarded.
    RtcpGuard::watch(rtpbin);
    auto setup = GST_RTSP_MEDIA_CLASS(tavlo_media_parent_class)->setup_rtpbin;
    return setup ? setup(media, rtpbin) : TRUE;
}

// The media's thread: a message of its pipeline's bus.
static gboolean tavlo_media_handle_message(GstRTSPMedia* media, GstMessage* message)
{
    auto handle = GST_RTSP_MEDIA_CLASS(tavlo_media_parent_class)->handle_message;
    if (GST_MESSAGE_TYPE(message) != GST_MESSAGE_ERROR)
        return handle(media, message);
    // The owner first, so that new requests go elsewhere before the library
    // marks this media as failed.
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    GST_WARNING_OBJECT(media, "pipeline failed: %s (%s)", error ? error->message : "?", debug ? debug : "");
    TavloMedia* self = TAVLO_MEDIA(media);
    {
        std::lock_guard<std::mutex> lock(*self->lock);
        if (self->failed)
            self->failed(media, error ? error->message : "unknown error", self->failed_data);
    }
    g_clear_error(&error);
    g_free(debug);
    return handle(media, message);
}

static void tavlo_media_finalize(GObject* object)
{
    TavloMedia* self = TAVLO_MEDIA(object);
    if (self->failed_destroy)
        self->failed_destroy(self->failed_data);
    delete self->lock;
    G_OBJECT_CLASS(tavlo_media_parent_class)->finalize(object);
}

static void tavlo_media_class_init(TavloMediaClass* klass)
{
    G_OBJECT_CLASS(klass)->finalize = tavlo_media_finalize;
    GST_RTSP_MEDIA_CLASS(klass)->setup_rtpbin = tavlo_media_setup_rtpbin;
    GST_RTSP_MEDIA_CLASS(klass)->handle_message = tavlo_media_handle_message;
}

static void tavlo_media_init(TavloMedia* self)
{
    self->lock = new std::mutex;
    self->failed = nullptr;
    self->failed_data = nullptr;
    self->failed_destroy = nullptr;
}

void tavlo_media_set_failed_hook(TavloMedia* media, TavloMediaFailed hook, gpointer data, GDestroyNotify destroy)
{
    GDestroyNotify oldDestroy;
    gpointer oldData;
    {
        std::lock_guard<std::mutex> lock(*media->lock);
        oldDestroy = media->failed_destroy;
        oldData = media->failed_data;
        media->failed = hook;
        media->failed_data = data;
        media->failed_destroy = destroy;
    }
    if (oldDestroy)
        oldDestroy(oldData);
}
