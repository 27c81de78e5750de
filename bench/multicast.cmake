# Multicast: bench/multicast/bench.sh measures what a shared screen costs
# its source with 1, 10 and 30 receivers by multicast and by unicast in the
# same run (root: network namespaces). It needs the terminal and the test
# painter of this build tree:
#   cmake --build <build> --target tavlo tavlo-test-painter
#   bench/multicast/bench.sh <build> [seconds]
add_custom_target(bench_multicast
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/multicast/bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS tavlo tavlo-test-painter
  USES_TERMINAL)
