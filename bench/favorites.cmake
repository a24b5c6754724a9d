# The Favorites store: reading and rebuilding the Favorites folder.
add_executable(favorites_bench ${PROJECT_SOURCE_DIR}/plugin/favorites/favorites_bench.cpp)
target_link_libraries(favorites_bench PRIVATE favorites_core benchmark::benchmark)
