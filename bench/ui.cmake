# The window's responsiveness against the simulated tap; needs the tap's test bed.
if(TARGET kalvessa_testbed)
  add_executable(ui_bench ${CMAKE_CURRENT_LIST_DIR}/ui_bench.cpp)
  target_link_libraries(ui_bench PRIVATE kalvessa_ui kalvessa_testbed Qt6::Widgets)
  target_compile_definitions(ui_bench PRIVATE
      KALVESSA_TAPSIM_PATH="$<TARGET_FILE:kalvessa-tapsim>")
  add_dependencies(ui_bench kalvessa-tapsim)
  kalvessa_target_warnings(ui_bench)
endif()
