# The window's responsiveness against the simulated tap; needs the tap's test bed.
if(TARGET kalvessa_testbed)
  add_executable(ui_bench ${CMAKE_CURRENT_LIST_DIR}/ui_bench.cpp)
  target_link_libraries(ui_bench PRIVATE kalvessa_ui kalvessa_testbed Qt6::Widgets)
  kalvessa_target_warnings(ui_bench)
endif()
