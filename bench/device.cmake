# Device protocol benchmarks: programs that print figures, run by hand inside a private network
# namespace (tools/testbed/in-netns.sh build/bench/bench_device_...), never part of the suite.
foreach(name device_exchange device_settings)
  add_executable(bench_${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
  target_link_libraries(bench_${name} PRIVATE kalvessa_device kalvessa_testbed
                        PkgConfig::PCAP)
  kalvessa_target_warnings(bench_${name})
  target_compile_definitions(bench_${name} PRIVATE
      KALVESSA_LINK_HELPER_BUILT="$<TARGET_FILE:kalvessa100-link>")
  add_dependencies(bench_${name} kalvessa100-link)
endforeach()
