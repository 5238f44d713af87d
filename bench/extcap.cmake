# Frames per second through kalvessa100-extcap against tshark on the tap's interface directly.
add_executable(bench_extcap ${CMAKE_CURRENT_LIST_DIR}/extcap.cpp)
target_link_libraries(bench_extcap PRIVATE kalvessa_testbed Qt6::Core)
target_compile_definitions(bench_extcap PRIVATE
    KALVESSA100_EXTCAP="$<TARGET_FILE:kalvessa100-extcap>")
add_dependencies(bench_extcap kalvessa100-extcap kalvessa100-link)
kalvessa_target_warnings(bench_extcap)
