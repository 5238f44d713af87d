# Device protocol benchmarks: programs that print figures, run by hand inside a private network
# namespace (tests/support/in-netns.sh build/bench/bench_device_...), never part of the suite.
if(TARGET kalvessa_test_support)
  foreach(name device_exchange device_settings)
    add_executable(bench_${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp)
    target_link_libraries(bench_${name} PRIVATE kalvessa_device kalvessa_test_support
                          PkgConfig::PCAP)
    kalvessa_target_warnings(bench_${name})
  endforeach()
endif()
