# Firmware programming benchmarks: programs that print figures, run by hand inside a private
# network namespace (tools/testbed/in-netns.sh), never part of the test suite.
foreach(name firmware_update firmware_memory)
  add_executable(bench_${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
  target_link_libraries(bench_${name} PRIVATE kalvessa_device kalvessa_firmware_image
                        kalvessa_testbed)
  kalvessa_target_warnings(bench_${name})
endforeach()
