# The worker's detection latency and idle cost against the simulated tap.
add_executable(bench_detection ${CMAKE_CURRENT_LIST_DIR}/detection.cpp)
target_link_libraries(bench_detection PRIVATE kalvessa_detection kalvessa_testbed Qt6::Core)
kalvessa_target_warnings(bench_detection)
# Its plug-to-shown figure through the capture helper runs the helper built here.
add_dependencies(bench_detection kalvessa100-link)
