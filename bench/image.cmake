add_executable(contrail_bench_image ${CMAKE_CURRENT_LIST_DIR}/bench_image.cpp)
target_link_libraries(contrail_bench_image PRIVATE contrail_image benchmark::benchmark)
