#ifndef TAVLO_LIVESERVERMEDIASUBSESSION_H
#define TAVLO_LIVESERVERMEDIASUBSESSION_H

#include "Classroom.h"

#include <gst/rtsp-server/rtsp-server.h>
#include <memory>
#include <mutex>

class FFmpegH264Source;

// The media factory of the one live stream: a single shared pipeline
// (appsrc fed by the FFmpegH264Source, H.264 RTP payloader) for every
// client, built on the first request and kept prepared when the last client
// leaves, so one encoder feeds any number of clients. RTP goes over UDP
// (server ports from 6970) or interleaved over the RTSP connection.
//
// Threads: created in the GUI thread; its signal handlers run in the RTSP
// client threads (media construction and preparation).
class LiveServerMediaSubsession {
public:
    static LiveServerMediaSubsession* createNew(FFmpegH264Source* source);
    ~LiveServerMediaSubsession();
    LiveServerMediaSubsession(const LiveServerMediaSubsession&) = delete;
    LiveServerMediaSubsession& operator=(const LiveServerMediaSubsession&) = delete;

    // The factory to mount (borrowed; the mount points take their own ref).
    GstRTSPMediaFactory* factory() const { return m_factory; }

    // Fills in the session description's texts: session name, information
    // and the bandwidth of every media section.
    static void describe(GstSDPMessage* sdp);

    // Drops the kept pipeline (at shutdown, once no client is served).
    void release();

    // Clients the pipeline sends to right now (playing ones). Any thread.
    int playing();

    static const char* const STREAM_NAME;
    static const char* const DESCRIPTION;
    static const unsigned BANDWIDTH_KBPS = Classroom::BANDWIDTH_KBPS;
    static const unsigned RTP_PORT_FIRST = 6970;
    static const unsigned RTP_PORT_LAST = 7969;

private:
    explicit LiveServerMediaSubsession(FFmpegH264Source* source);
    static void mediaConfigure(GstRTSPMediaFactory* factory, GstRTSPMedia* media, gpointer self);

    // What the signal handlers hold instead of a bare pointer: an RTSP
    // client thread may still be closing (and unpreparing its media) while
    // the subsession is destroyed, so every handler runs under the lock and
    // finds a null owner once the destructor has passed.
    struct Owner {
        std::recursive_mutex mutex;
        LiveServerMediaSubsession* sub;
    };
    template <void (*Handler)(LiveServerMediaSubsession*, GstRTSPMedia*)>
    static void guarded(GstRTSPMedia* media, gpointer owner);
    static void guardedConfigure(GstRTSPMediaFactory* factory, GstRTSPMedia* media, gpointer owner);
    static void guardedPrepared(GstRTSPMedia* media, gpointer owner);
    void connectGuarded(gpointer instance, const char* signal, GCallback handler);
    static void onUnprepared(LiveServerMediaSubsession* sub, GstRTSPMedia* media);

    std::shared_ptr<Owner> m_owner;
    FFmpegH264Source* m_source;
    GstRTSPMediaFactory* m_factory;
    std::mutex m_mutex;
    GstRTSPMedia* m_media = nullptr;  // the kept media, one extra prepare held
};

#endif
