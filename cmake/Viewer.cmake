# Stream viewer: RTSP puller, decoder and the full-screen SDL window.
add_library(tavlo_viewer INTERFACE)
