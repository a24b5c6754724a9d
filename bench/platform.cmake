# Platform stand-in: registry, named mutex and code page costs.
add_executable(platform_bench ${PROJECT_SOURCE_DIR}/platform/platform_bench.cpp)
target_link_libraries(platform_bench PRIVATE platform benchmark::benchmark)
