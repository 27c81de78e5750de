# Screen sharing: capture, encoder, frame queue and the RTSP server.
add_library(tavlo_sharing INTERFACE)
