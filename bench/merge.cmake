# The merge of server and local lists, with its ordering and renumbering.
add_executable(merge_bench ${CMAKE_CURRENT_SOURCE_DIR}/merge_bench.cpp)
target_link_libraries(merge_bench PRIVATE exchange benchmark::benchmark)
