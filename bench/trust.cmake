# Signed commands:
#   build/tavlo-bench-trust                    signing and checking per command (Google Benchmark)
#   bench/trust/firstpicture.sh build [tries]  show -> first picture, signing off and on, in one run
if(benchmark_FOUND)
  add_executable(tavlo-bench-trust ${CMAKE_CURRENT_SOURCE_DIR}/trust/TrustBench.cpp)
  target_link_libraries(tavlo-bench-trust PRIVATE tavlo_trust tavlo_commandtrust tavlo_console benchmark::benchmark)
  set_target_properties(tavlo-bench-trust PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
endif()
