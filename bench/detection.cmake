# The worker's detection latency and idle cost; needs the simulated tap and its test bed.
if(TARGET kalvessa_testbed)
  add_executable(detection_bench ${CMAKE_CURRENT_LIST_DIR}/detection_bench.cpp)
  target_link_libraries(detection_bench PRIVATE kalvessa_detection kalvessa_testbed Qt6::Core)
  kalvessa_target_warnings(detection_bench)
endif()
