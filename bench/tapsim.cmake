# How long the simulated tap takes to answer, so that benchmarks of the tool can tell its share.
# Run it next to a simulator:
#   tools/tapsim/with-simulated-tap.sh -- build/bench/bench_tapsim_roundtrip kvtap0 2000
add_executable(bench_tapsim_roundtrip ${CMAKE_CURRENT_LIST_DIR}/tapsim_roundtrip.cpp)
target_link_libraries(bench_tapsim_roundtrip PRIVATE kalvessa_tapsim_core PkgConfig::PCAP)
kalvessa_target_warnings(bench_tapsim_roundtrip)
