# The show's set-up and frames, timed offscreen on the capture's fixed-rate clock.
add_executable(contrail_bench_show ${CMAKE_CURRENT_LIST_DIR}/bench_show.cpp)
target_link_libraries(contrail_bench_show PRIVATE contrail_demo contrail_shell contrail_platform_testing
                      contrail_platform_mpg123 contrail_gl contrail_show)
target_compile_definitions(contrail_bench_show PRIVATE CONTRAIL_DATA_DIR="${PROJECT_BINARY_DIR}/data")
if(CONTRAIL_DATA)
  add_dependencies(contrail_bench_show contrail_data)
endif()
