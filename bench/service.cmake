# Load test of the reference service over loopback: GET and PUT requests per
# second for a 1,000-bookmark list with 16 concurrent clients.
find_package(CURL REQUIRED)
add_executable(service_load_bench ${CMAKE_CURRENT_LIST_DIR}/service_load_bench.cpp)
target_link_libraries(service_load_bench PRIVATE service_core CURL::libcurl benchmark::benchmark)
