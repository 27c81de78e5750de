# Screen sharing: capture, encoder, frame queue and the RTSP server.
pkg_check_modules(GST_SHARING REQUIRED IMPORTED_TARGET gstreamer-sdp-1.0 gstreamer-rtsp-1.0)
# X DAMAGE: a screen that did not change is not grabbed again.
pkg_check_modules(XDAMAGE REQUIRED IMPORTED_TARGET xdamage)
add_library(tavlo_sharing STATIC
  FrameStructure.h
  ScreenGrabber.cpp ScreenGrabber.h
  ColourConversion.cpp ColourConversion.h
  QScreenThread.cpp QScreenThread.h
  FFmpegH264Source.cpp FFmpegH264Source.h
  LiveServerMediaSubsession.cpp LiveServerMediaSubsession.h
  TavloRtspServer.cpp TavloRtspServer.h
  TavloMediaFactory.cpp TavloMediaFactory.h
  QServerThread.cpp QServerThread.h)
target_include_directories(tavlo_sharing PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tavlo_sharing PUBLIC tavlo_utils Qt5::Core Qt5::Gui PkgConfig::FFMPEG PkgConfig::GST PkgConfig::GST_SHARING
                      ${X11_LIBRARIES} ${X11_Xext_LIB} PkgConfig::XDAMAGE Threads::Threads)
target_include_directories(tavlo_sharing PUBLIC ${X11_INCLUDE_DIR})
# GLib's headers use "signals" as a name; this library declares no Qt signals.
target_compile_definitions(tavlo_sharing PRIVATE QT_NO_KEYWORDS)
# The capture's colour conversion is written as plain loops for the vectoriser.
# Optimised even in debug builds: the capture must keep its 30 frames a second.
set_source_files_properties(ColourConversion.cpp PROPERTIES COMPILE_OPTIONS "-O2;-ftree-vectorize")
