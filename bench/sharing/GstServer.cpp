// The reference RTSP server of the latency benchmark: the screen through
// GStreamer alone (ximagesrc ! x264enc tune=zerolatency ! rtph264pay) at
// Tavlo's settings, one shared pipeline, on the given port (default 5001)
// as /cam. Runs until killed.
//   tavlo-bench-gstserver [port]
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <cstdio>

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    const char* port = argc > 1 ? argv[1] : "5001";
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    GstRTSPServer* server = gst_rtsp_server_new();
    gst_rtsp_server_set_service(server, port);
    GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
    gst_rtsp_media_factory_set_launch(
        factory,
        "( ximagesrc use-damage=false show-pointer=false ! video/x-raw,framerate=30/1 ! videoconvert ! "
        "video/x-raw,format=I420 ! x264enc speed-preset=veryfast tune=zerolatency bitrate=4000 "
        "vbv-buf-capacity=1000 key-int-max=10 ! rtph264pay name=pay0 pt=96 config-interval=-1 )");
    gst_rtsp_media_factory_set_shared(factory, TRUE);
    gst_rtsp_media_factory_set_latency(factory, 0);
    GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
    gst_rtsp_mount_points_add_factory(mounts, "/cam", factory);
    g_object_unref(mounts);
    if (gst_rtsp_server_attach(server, nullptr) == 0) {
        std::fprintf(stderr, "cannot listen on port %s\n", port);
        return 1;
    }
    std::printf("serving rtsp://127.0.0.1:%s/cam\n", port);
    std::fflush(stdout);
    g_main_loop_run(loop);
    return 0;
}
