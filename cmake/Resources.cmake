# Compiled-in resources. Every image is drawn by a generator program in this
# repository at build time; the generator also writes the group's .qrc file.
# Each group becomes an OBJECT library, so that its static initialiser is
# linked into every target that uses the group.
#
#   tavlo_resource_group(<target> <generator-target> <group>)
function(tavlo_resource_group TARGET GEN GROUP)
  set(out ${CMAKE_BINARY_DIR}/res/${GROUP})
  set(stamp ${out}/stamp)
  add_custom_command(OUTPUT ${stamp} ${out}/${GROUP}.qrc
    COMMAND ${CMAKE_COMMAND} -E make_directory ${out}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:${GEN}> ${GROUP} ${out}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${GEN}
    COMMENT "Drawing the ${GROUP} resources")
  add_custom_command(OUTPUT ${out}/qrc_${GROUP}.cpp
    COMMAND Qt5::rcc --no-compress --name ${GROUP} -o ${out}/qrc_${GROUP}.cpp ${out}/${GROUP}.qrc
    DEPENDS ${stamp} ${out}/${GROUP}.qrc
    COMMENT "Compiling the ${GROUP} resources")
  add_library(${TARGET} OBJECT ${out}/qrc_${GROUP}.cpp)
  target_link_libraries(${TARGET} PRIVATE Qt5::Core)
  set_target_properties(${TARGET} PROPERTIES AUTOMOC OFF AUTOUIC OFF)
endfunction()

# What the generators share (cmake/ResourceFiles.h): writing a picture and
# the group's .qrc file. A generator target adds it with
#   target_include_directories(<generator> PRIVATE ${TAVLO_RESOURCE_TOOLS_DIR})
set(TAVLO_RESOURCE_TOOLS_DIR ${CMAKE_CURRENT_LIST_DIR})
