#include "FFmpegH264Source.h"

#include "QScreenThread.h"

#include <cstring>

namespace {
const uint8_t START_CODE[4] = {0, 0, 0, 1};

// A record that starts with a parameter set or an IDR slice begins a
// picture that decodes on its own.
bool isKeyframe(const uint8_t* data, unsigned int size)
{
    if (size == 0)
        return false;
    const int type = data[0] & 0x1f;
    return type == 7 || type == 5;
}
}  // namespace

FFmpegH264Source* FFmpegH264Source::createNew(GMainContext* context, QScreenThread* E_Source)
{
    return new FFmpegH264Source(context, E_Source);
}

// GUI thread, before the capture thread starts.
FFmpegH264Source::FFmpegH264Source(GMainContext* context, QScreenThread* E_Source)
    : Encoding_Source(E_Source), Context(g_main_context_ref(context))
{
    std::function<void()> callback1 = [this] { onFrame(); };
    Encoding_Source->setCallbackFunctionFrameIsReady(callback1);
}

FFmpegH264Source::~FFmpegH264Source()
{
    {
        std::lock_guard<std::mutex> lock(AppSrcMutex);
        if (AppSrc) {
            g_signal_handlers_disconnect_by_data(AppSrc, this);
            gst_object_unref(AppSrc);
            AppSrc = nullptr;
        }
    }
    g_main_context_unref(Context);
}

void FFmpegH264Source::onFrame()
{
    g_main_context_invoke(Context, &FFmpegH264Source::deliverFrameStub, this);
}

gboolean FFmpegH264Source::deliverFrameStub(gpointer clientData)
{
    static_cast<FFmpegH264Source*>(clientData)->deliverFrame();
    return G_SOURCE_REMOVE;
}

void FFmpegH264Source::deliverFrame()
{
    // Records wait in the capture queue while nobody asks for them.
    if (!WantsData)
        return;
    GstAppSrc* appsrc;
    {
        std::lock_guard<std::mutex> lock(AppSrcMutex);
        if (!AppSrc)
            return;
        appsrc = GST_APP_SRC(gst_object_ref(AppSrc));
    }
    uint8_t* data = nullptr;
    unsigned int size = 0;
    for (;;) {
        if (!Encoding_Source->GetFrame(&data, &size) || !data) {
            // Empty queue: nothing now; the next trigger tries again.
            gst_object_unref(appsrc);
            return;
        }
        if (!NeedKeyframe || isKeyframe(data, size))
            break;
        Encoding_Source->ReleaseFrame();
    }
    NeedKeyframe = false;
    // One buffer per access unit, whole, with its leading start code back
    // in place (the pipeline carries an Annex B byte stream).
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, size + sizeof START_CODE, nullptr);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
        std::memcpy(map.data, START_CODE, sizeof START_CODE);
        std::memcpy(map.data + sizeof START_CODE, data, size);
        gst_buffer_unmap(buffer, &map);
    } else if (buffer) {
        gst_buffer_unref(buffer);
        buffer = nullptr;
    }
    Encoding_Source->ReleaseFrame();
    if (buffer) {
        // The appsrc stamps it with the pipeline clock (the wall clock) now.
        gst_app_src_push_buffer(appsrc, buffer);
        ++Delivered;
    }
    gst_object_unref(appsrc);
}

void FFmpegH264Source::attach(GstAppSrc* appsrc)
{
    std::lock_guard<std::mutex> lock(AppSrcMutex);
    if (AppSrc) {
        g_signal_handlers_disconnect_by_data(AppSrc, this);
        gst_object_unref(AppSrc);
    }
    AppSrc = GST_APP_SRC(gst_object_ref(appsrc));
    WantsData = false;
    NeedKeyframe = true;
    g_signal_connect(appsrc, "need-data", G_CALLBACK(&FFmpegH264Source::needData), this);
    g_signal_connect(appsrc, "enough-data", G_CALLBACK(&FFmpegH264Source::enoughData), this);
    // The new pipeline learns the stream's parameters from a first keyframe,
    // even when nobody watches yet.
    Encoding_Source->requestPicture();
}

void FFmpegH264Source::detach(GstAppSrc* appsrc)
{
    std::lock_guard<std::mutex> lock(AppSrcMutex);
    if (AppSrc != appsrc)
        return;
    g_signal_handlers_disconnect_by_data(AppSrc, this);
    gst_object_unref(AppSrc);
    AppSrc = nullptr;
    WantsData = false;
}

// Streaming thread: the pipeline has drained what it had.
void FFmpegH264Source::needData(GstAppSrc*, guint, gpointer self)
{
    auto* source = static_cast<FFmpegH264Source*>(self);
    source->WantsData = true;
    g_main_context_invoke(source->Context, &FFmpegH264Source::deliverFrameStub, source);
}

void FFmpegH264Source::enoughData(GstAppSrc*, gpointer self)
{
    static_cast<FFmpegH264Source*>(self)->WantsData = false;
}
