# What zero-address junk from the monitored network does to every operation and to the
# generation probe; needs the simulated tap and its test bed.
if(TARGET kalvessa_testbed)
  add_executable(bench_hostile_traffic ${CMAKE_CURRENT_LIST_DIR}/hostile_traffic.cpp)
  target_link_libraries(bench_hostile_traffic PRIVATE kalvessa_detection kalvessa_testbed Qt6::Core)
  kalvessa_target_warnings(bench_hostile_traffic)
endif()
