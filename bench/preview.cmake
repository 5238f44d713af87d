# kalvessa100ctl preview against tcpdump running the printed expression, on a generated file.
add_executable(bench_preview ${CMAKE_CURRENT_LIST_DIR}/preview.cpp)
target_link_libraries(bench_preview PRIVATE Qt6::Core)
target_compile_definitions(bench_preview PRIVATE KALVESSA100CTL="$<TARGET_FILE:kalvessa100ctl>")
add_dependencies(bench_preview kalvessa100ctl)
kalvessa_target_warnings(bench_preview)
