# Installation: the terminal (and its tools, from their own folders) plus an
# XDG autostart entry, so that a classroom computer starts its terminal at
# login in the folder that holds the classroom's team.bin.
#
#   cmake -S . -B build -DTAVLO_WORKDIR=/srv/classroom && cmake --build build
#   sudo cmake --install build
include(GNUInstallDirs)

set(TAVLO_WORKDIR "${CMAKE_INSTALL_FULL_LOCALSTATEDIR}/lib/tavlo" CACHE PATH
    "Working directory of the autostarted terminal: the folder that holds team.bin")
set(TAVLO_AUTOSTART_DIR "${CMAKE_INSTALL_FULL_SYSCONFDIR}/xdg/autostart" CACHE PATH
    "Where the XDG autostart entry is installed")

install(TARGETS tavlo RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/tavlo.desktop.in ${CMAKE_BINARY_DIR}/tavlo.desktop @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/tavlo.desktop DESTINATION ${TAVLO_AUTOSTART_DIR})
install(DIRECTORY DESTINATION ${TAVLO_WORKDIR})
