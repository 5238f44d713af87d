# What zero-address junk from the monitored network does to every operation and to the
# generation probe, against the simulated tap.
add_executable(bench_hostile ${CMAKE_CURRENT_LIST_DIR}/hostile.cpp)
target_link_libraries(bench_hostile PRIVATE kalvessa_detection kalvessa_testbed Qt6::Core)
kalvessa_target_warnings(bench_hostile)
