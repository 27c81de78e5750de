# Multicast: bench/multicast/bench.sh measures what a shared screen costs
# its source with 1, 10 and 30 receivers by multicast and by unicast in the
# same run, and show -> first picture by multicast and through the fallback
# (root: network namespaces). It needs the terminal and the test
# painter of this build tree:
#   cmake --build <build> --target tavlo tavlo-test-painter tavlo-bench-firstpicture
#   bench/multicast/bench.sh <build> [seconds] [tries]
add_custom_target(bench_multicast
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/multicast/bench.sh ${CMAKE_BINARY_DIR}
  DEPENDS tavlo tavlo-test-painter tavlo-bench-firstpicture
  USES_TERMINAL)
