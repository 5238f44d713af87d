# What a tool holding the tap costs the host's receive path while idle, against the simulated tap.
add_executable(bench_idle_capture ${CMAKE_CURRENT_LIST_DIR}/idle_capture.cpp)
target_link_libraries(bench_idle_capture PRIVATE kalvessa_detection kalvessa_testbed Qt6::Core)
kalvessa_target_warnings(bench_idle_capture)
