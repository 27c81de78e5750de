// A small RTSP peer for the viewer's tests, on the GStreamer RTSP server.
//
//   tavlo-test-rtsp-peer --address A [--port 5000] [--mode video|audio|hang]
//                        [--color RRGGBB | --moving] [--size WxH]
//                        [--codec h264|jpeg] [--key-interval FRAMES]
//                        [--hold-color RRGGBB --after-color RRGGBB]
//                        [--silent-after MS]
//                        [--resize-after MS --resize WxH [--resize-color RRGGBB]]
//
// It serves "/cam_passby_chn0". video: H.264 of a solid colour or a moving
// test picture (--codec jpeg: Motion JPEG instead); audio: an audio-only
// stream; hang: a TCP listener that
// accepts connections and never answers. --silent-after stops the flow of
// pictures that many milliseconds after a client's stream was set up (the
// connection stays open); --resize-after changes the picture size (and with
// --resize-color the solid colour too).
//
// With --hold-color, SIGUSR1 holds the encoded pictures back (they pile up
// in a queue, and the picture turns that colour) and SIGUSR2 lets them all go
// at once: the picture turns --after-color, and the queue opens RELEASE_MS
// later, so that every held picture of the hold colour is at least that
// stale when it goes: a backlog of stale pictures followed by live ones.
//
// Lines on stdout: "ready", then per client "connected", "play", "closed";
// in hang mode "accepted" per connection; "held" and "released" for the
// signals.
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <glib-unix.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

struct Options {
    std::string address = "127.0.0.1";
    int port = 5000;
    std::string mode = "video";
    std::string codec = "h264";
    int keyInterval = 15;
    std::string color = "ff0000";
    bool moving = false;
    int width = 640, height = 360;
    int silentAfterMs = -1;
    int resizeAfterMs = -1;
    int resizeWidth = 320, resizeHeight = 240;
    std::string resizeColor;  // empty: the colour stays
    std::string holdColor, afterColor;
};

Options opt;

void line(const char* text)
{
    std::printf("%s\n", text);
    std::fflush(stdout);
}

bool parseSize(const char* text, int* w, int* h)
{
    return std::sscanf(text, "%dx%d", w, h) == 2 && *w > 0 && *h > 0;
}

std::string caps(int w, int h)
{
    return "video/x-raw,width=" + std::to_string(w) + ",height=" + std::to_string(h) + ",framerate=30/1";
}

gboolean goSilent(gpointer data)
{
    g_object_set(G_OBJECT(data), "drop", TRUE, nullptr);
    return G_SOURCE_REMOVE;
}

// data: the pipeline's bin.
gboolean resize(gpointer data)
{
    if (!opt.resizeColor.empty()) {
        if (GstElement* src = gst_bin_get_by_name(GST_BIN(data), "vts")) {
            g_object_set(G_OBJECT(src), "foreground-color",
                         static_cast<guint>(0xff000000u | std::stoul(opt.resizeColor, nullptr, 16)), nullptr);
            gst_object_unref(src);
        }
    }
    if (GstElement* cf = gst_bin_get_by_name(GST_BIN(data), "cf")) {
        GstCaps* c = gst_caps_from_string(caps(opt.resizeWidth, opt.resizeHeight).c_str());
        g_object_set(G_OBJECT(cf), "caps", c, nullptr);
        gst_caps_unref(c);
        gst_object_unref(cf);
    }
    return G_SOURCE_REMOVE;
}

// The pipeline of the (one) client being served with holds, and its probe.
GstElement* holdPipeline = nullptr;
gulong holdProbe = 0;

void setColour(GstElement* bin, const std::string& colour)
{
    if (GstElement* src = gst_bin_get_by_name(GST_BIN(bin), "vts")) {
        g_object_set(G_OBJECT(src), "foreground-color", static_cast<guint>(0xff000000u | std::stoul(colour, nullptr, 16)),
                     nullptr);
        gst_object_unref(src);
    }
}

GstPadProbeReturn keepBlocked(GstPad*, GstPadProbeInfo*, gpointer) { return GST_PAD_PROBE_OK; }

gboolean onHold(gpointer)
{
    if (holdPipeline && !holdProbe) {
        if (GstElement* q = gst_bin_get_by_name(GST_BIN(holdPipeline), "q")) {
            GstPad* pad = gst_element_get_static_pad(q, "src");
            holdProbe = gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BLOCK_DOWNSTREAM, keepBlocked, nullptr, nullptr);
            gst_object_unref(pad);
            gst_object_unref(q);
        }
        setColour(holdPipeline, opt.holdColor);
        line("held");
    }
    return G_SOURCE_CONTINUE;
}

// How long the pictures of the after colour queue behind the held ones.
const guint RELEASE_MS = 300;

gboolean openQueue(gpointer)
{
    if (holdPipeline && holdProbe) {
        if (GstElement* q = gst_bin_get_by_name(GST_BIN(holdPipeline), "q")) {
            GstPad* pad = gst_element_get_static_pad(q, "src");
            gst_pad_remove_probe(pad, holdProbe);
            gst_object_unref(pad);
            gst_object_unref(q);
        }
        holdProbe = 0;
        line("released");
    }
    return G_SOURCE_REMOVE;
}

gboolean onRelease(gpointer)
{
    if (holdPipeline && holdProbe) {
        setColour(holdPipeline, opt.afterColor);
        g_timeout_add(RELEASE_MS, openQueue, nullptr);
    }
    return G_SOURCE_CONTINUE;
}

void onMediaConfigure(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer)
{
    GstElement* element = gst_rtsp_media_get_element(media);
    if (!opt.holdColor.empty()) {
        if (holdPipeline)
            gst_object_unref(holdPipeline);
        holdPipeline = GST_ELEMENT(gst_object_ref(element));
    }
    if (opt.silentAfterMs >= 0) {
        if (GstElement* valve = gst_bin_get_by_name(GST_BIN(element), "v"))
            g_timeout_add_full(G_PRIORITY_DEFAULT, opt.silentAfterMs, goSilent, valve, gst_object_unref);
    }
    if (opt.resizeAfterMs >= 0)
        g_timeout_add_full(G_PRIORITY_DEFAULT, opt.resizeAfterMs, resize, gst_object_ref(element), gst_object_unref);
    gst_object_unref(element);
}

void onClosed(GstRTSPClient*, gpointer) { line("closed"); }
void onPlay(GstRTSPClient*, GstRTSPContext*, gpointer) { line("play"); }

void onClientConnected(GstRTSPServer*, GstRTSPClient* client, gpointer)
{
    line("connected");
    g_signal_connect(client, "closed", G_CALLBACK(onClosed), nullptr);
    g_signal_connect(client, "play-request", G_CALLBACK(onPlay), nullptr);
}

// Accepts connections and keeps them open without reading or answering.
int hang()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(opt.port));
    if (inet_pton(AF_INET, opt.address.c_str(), &sa.sin_addr) != 1 ||
        bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 16) != 0) {
        std::perror("hang peer");
        return 1;
    }
    line("ready");
    std::vector<int> held;
    for (;;) {
        const int c = accept(fd, nullptr, nullptr);
        if (c < 0)
            continue;
        held.push_back(c);
        line("accepted");
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
        bool used = true;
        if (a == "--moving") {
            opt.moving = true;
            used = false;
        } else if (!v) {
            std::fprintf(stderr, "%s needs a value\n", a.c_str());
            return 2;
        } else if (a == "--address") {
            opt.address = v;
        } else if (a == "--port") {
            opt.port = std::atoi(v);
        } else if (a == "--key-interval") {
            opt.keyInterval = std::atoi(v);
        } else if (a == "--hold-color") {
            opt.holdColor = v;
        } else if (a == "--after-color") {
            opt.afterColor = v;
        } else if (a == "--codec") {
            opt.codec = v;
        } else if (a == "--mode") {
            opt.mode = v;
        } else if (a == "--color") {
            opt.color = v;
        } else if (a == "--size") {
            if (!parseSize(v, &opt.width, &opt.height))
                return 2;
        } else if (a == "--silent-after") {
            opt.silentAfterMs = std::atoi(v);
        } else if (a == "--resize-after") {
            opt.resizeAfterMs = std::atoi(v);
        } else if (a == "--resize") {
            if (!parseSize(v, &opt.resizeWidth, &opt.resizeHeight))
                return 2;
        } else if (a == "--resize-color") {
            opt.resizeColor = v;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            return 2;
        }
        if (used)
            ++i;
    }
    if (opt.mode == "hang")
        return hang();

    gst_init(&argc, &argv);
    std::string launch;
    if (opt.mode == "audio") {
        launch = "( audiotestsrc is-live=true ! audioconvert ! mulawenc ! rtppcmupay name=pay0 pt=0 )";
    } else {
        const std::string pattern =
            opt.moving ? "pattern=smpte horizontal-speed=8"
                       : "pattern=solid-color foreground-color=0xff" + opt.color;
        launch = "( videotestsrc name=vts is-live=true " + pattern + " ! capsfilter name=cf caps=\"" +
                 caps(opt.width, opt.height) +
                 "\" ! valve name=v ! videoconvert ! video/x-raw,format=I420 ! " +
                 (opt.codec == "jpeg" ? std::string("jpegenc ! rtpjpegpay name=pay0 pt=26 )")
                                      : "x264enc tune=zerolatency speed-preset=ultrafast key-int-max=" +
                                            std::to_string(opt.keyInterval) +
                                            " bitrate=3000 sliced-threads=false threads=1 ! "
                                            "queue name=q max-size-buffers=0 max-size-bytes=0 max-size-time=0 ! "
                                            "rtph264pay name=pay0 pt=96 config-interval=-1 )");
    }

    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(server, opt.address.c_str());
    gst_rtsp_server_set_service(server, std::to_string(opt.port).c_str());
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(factory, launch.c_str());
    gst_rtsp_media_factory_set_shared(factory, FALSE);
    g_signal_connect(factory, "media-configure", G_CALLBACK(onMediaConfigure), nullptr);
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, "/cam_passby_chn0", factory);
    g_object_unref(mounts);
    g_signal_connect(server, "client-connected", G_CALLBACK(onClientConnected), nullptr);
    if (gst_rtsp_server_attach(server, nullptr) == 0) {
        std::fprintf(stderr, "cannot listen on %s:%d\n", opt.address.c_str(), opt.port);
        return 1;
    }
    if (!opt.holdColor.empty()) {
        g_unix_signal_add(SIGUSR1, onHold, nullptr);
        g_unix_signal_add(SIGUSR2, onRelease, nullptr);
    }
    line("ready");
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    return 0;
}
