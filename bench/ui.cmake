# The window's responsiveness against the simulated tap.
add_executable(bench_ui ${CMAKE_CURRENT_LIST_DIR}/ui.cpp)
target_link_libraries(bench_ui PRIVATE kalvessa_ui kalvessa_testbed Qt6::Widgets)
kalvessa_target_warnings(bench_ui)
