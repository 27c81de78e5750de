#ifndef TAVLO_APPSRCFEEDER_H
#define TAVLO_APPSRCFEEDER_H

#include "QScreenThread.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <atomic>
#include <memory>
#include <mutex>

// Feeds the shared RTSP pipeline: every access unit the encoder makes goes,
// from the capture thread and the moment it is made, into the pipeline's
// appsrc as one buffer (Annex B, start code included), stamped there with
// the pipeline clock. The appsrc is the only queue between the encoder and
// the pipeline, bounded at BUFFER_LIMIT access units (about a second):
//  - A new pipeline starts at a keyframe (the capture is asked for one).
//  - When the pipeline has taken nothing for BUFFER_LIMIT pictures, the
//    feeder leaves out this access unit and every one after it up to a
//    keyframe, which it asks for at once: a viewer's picture freezes for a
//    moment but never breaks ("GetFrame pop@@@: N" for each one left out).
//  - Access units that waited in the appsrc through an idle spell (pushed
//    before the capture last woke up for a new watcher) are dropped as
//    they leave it: the watcher starts at the keyframe made for it.
//
// Threads: push runs in the capture thread; attach and detach in an RTSP
// client thread (when a pipeline is built or goes); the appsrc's probe in
// its streaming thread. Construction and destruction in the GUI thread,
// while the capture loop does not run.
class AppSrcFeeder {
public:
    // Access units the appsrc may hold (30: a second of pictures).
    static constexpr guint64 BUFFER_LIMIT = 30;

    // Installs itself as the capture's frame-ready callback of channel's
    // stream (the full one, or the small one of the thumbnails).
    explicit AppSrcFeeder(QScreenThread* capture, QScreenThread::Channel channel = QScreenThread::Channel::Full);
    ~AppSrcFeeder();
    AppSrcFeeder(const AppSrcFeeder&) = delete;
    AppSrcFeeder& operator=(const AppSrcFeeder&) = delete;

    // Capture thread: one access unit for the pipeline, if one is bound.
    void push(const QScreenThread::AccessUnit& unit);

    // Binds the feeder to the appsrc of a newly built pipeline (live, time
    // format), or lets go of it. Client thread.
    void attach(GstAppSrc* appsrc);
    void detach(GstAppSrc* appsrc);

    // Access units pushed, and left out by the trim, so far. Any thread.
    unsigned long delivered() const { return m_delivered; }
    unsigned long trimmed() const { return m_trimmed; }

private:
    // What the appsrc's probe shares with the feeder; outlives either.
    struct Outlet {
        // The push time (monotonic, ns, strictly increasing from push to
        // push) of the first access unit after the capture last woke up
        // from an idle spell; access units pushed before it are stale.
        std::atomic<gint64> resumedAtNs{0};
    };
    static GstPadProbeReturn onLeave(GstPad* pad, GstPadProbeInfo* info, gpointer outlet);
    void release();  // under m_mutex

    QScreenThread* m_capture;
    const QScreenThread::Channel m_channel;
    std::shared_ptr<Outlet> m_outlet = std::make_shared<Outlet>();
    std::mutex m_mutex;  // protects everything below
    GstAppSrc* m_appsrc = nullptr;  // a reference
    gulong m_probe = 0;
    // Nothing is pushed before the next keyframe: a new pipeline, or a trim.
    bool m_needKeyframe = true;
    bool m_trimming = false;  // the wait for a keyframe follows a trim
    gint64 m_lastStampNs = 0;  // the push time of the last access unit
    std::atomic<unsigned long> m_delivered{0};
    std::atomic<unsigned long> m_trimmed{0};
};

#endif
