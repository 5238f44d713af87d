# Updates, settings and detection on an imperfect line, against the simulated tap in-process:
# needs no namespace.
add_executable(bench_update_faults ${CMAKE_CURRENT_LIST_DIR}/update_faults.cpp)
target_link_libraries(bench_update_faults PRIVATE kalvessa_detection kalvessa_testbed Qt6::Core)
kalvessa_target_warnings(bench_update_faults)
