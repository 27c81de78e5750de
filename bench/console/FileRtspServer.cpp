// tavlo-bench-rtsp-files FILE ADDRESS FIRST_PORT COUNT [SMALL_FILE]
//
// Serves a pre-encoded H.264 file (MP4) as "/cam_passby_chn0" on COUNT RTSP
// servers at ADDRESS, ports FIRST_PORT onwards, the way terminals serve their
// screens (and SMALL_FILE as "/cam_passby_chn1", a terminal's small stream): the file is only demultiplexed and packetised (no encoding), so
// thirty sources cost little. Each server's pipeline is shared by its
// clients and starts with the first one; it plays the file once in real time.
// Prints "ready" once every port listens.
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char* argv[])
{
    gst_init(&argc, &argv);
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: %s FILE ADDRESS FIRST_PORT COUNT [SMALL_FILE]\n", argv[0]);
        return 2;
    }
    const std::string file = argv[1], address = argv[2];
    const int first = std::atoi(argv[3]), count = std::atoi(argv[4]);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    auto launch = [](const std::string& file) {
        return "( filesrc location=\"" + file +
               "\" ! qtdemux ! h264parse config-interval=-1 ! rtph264pay name=pay0 pt=96 )";
    };
    const std::string small = argc == 6 ? argv[5] : "";
    for (int i = 0; i < count; ++i) {
        GstRTSPServer* server = gst_rtsp_server_new();
        gst_rtsp_server_set_address(server, address.c_str());
        gst_rtsp_server_set_service(server, std::to_string(first + i).c_str());
        GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
        for (const auto& [path, media] : {std::pair<const char*, std::string>{"/cam_passby_chn0", file},
                                          std::pair<const char*, std::string>{"/cam_passby_chn1", small}}) {
            if (media.empty())
                continue;
            GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
            gst_rtsp_media_factory_set_launch(factory, launch(media).c_str());
            gst_rtsp_media_factory_set_shared(factory, TRUE);
            gst_rtsp_mount_points_add_factory(mounts, path, factory);
        }
        g_object_unref(mounts);
        if (gst_rtsp_server_attach(server, nullptr) == 0) {
            std::fprintf(stderr, "cannot listen on %s:%d\n", address.c_str(), first + i);
            return 1;
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    g_main_loop_run(loop);
    return 0;
}
