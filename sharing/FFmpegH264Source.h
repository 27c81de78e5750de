#ifndef TAVLO_FFMPEGH264SOURCE_H
#define TAVLO_FFMPEGH264SOURCE_H

#include <atomic>
#include <mutex>

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

class QScreenThread;

// The source of the shared RTSP pipeline: it takes access units out of the
// capture queue and pushes them, one buffer per access unit, into the
// pipeline's appsrc.
//
// Threads: onFrame runs in the capture thread and only hands over to the
// server thread (an invocation on the server's main context); deliverFrame
// runs in the server thread; attach/detach run in an RTSP client thread
// (when the media is built or dropped); the need/enough callbacks in the
// pipeline's streaming thread.
class FFmpegH264Source {
public:
    static FFmpegH264Source* createNew(GMainContext* context, QScreenThread* E_Source);
    ~FFmpegH264Source();
    FFmpegH264Source(const FFmpegH264Source&) = delete;
    FFmpegH264Source& operator=(const FFmpegH264Source&) = delete;

    // Capture thread, after every encoder step.
    void onFrame();
    // Server thread: one record to the pipeline, if it wants one.
    void deliverFrame();
    static gboolean deliverFrameStub(gpointer clientData);

    // Binds the source to the appsrc of a newly built pipeline (or releases
    // it). The appsrc must be set to time format, live.
    void attach(GstAppSrc* appsrc);
    void detach(GstAppSrc* appsrc);

    // Number of access units pushed so far.
    unsigned long delivered() const { return Delivered; }

    QScreenThread* Encoding_Source;

private:
    FFmpegH264Source(GMainContext* context, QScreenThread* E_Source);
    static void needData(GstAppSrc* src, guint length, gpointer self);
    static void enoughData(GstAppSrc* src, gpointer self);

    GMainContext* Context;
    std::mutex AppSrcMutex;
    GstAppSrc* AppSrc = nullptr;  // a reference, under AppSrcMutex
    std::atomic<bool> WantsData{false};
    // A new pipeline starts at a keyframe: queued records ahead of the
    // oldest keyframe could not be decoded by anybody. Server thread.
    std::atomic<bool> NeedKeyframe{true};
    std::atomic<unsigned long> Delivered{0};
};

#endif
