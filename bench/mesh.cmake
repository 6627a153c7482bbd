# OBJ loader against tinyobjloader on large meshes: the show's ship subdivided, and generated ones.
find_package(tinyobjloader CONFIG REQUIRED)
add_executable(contrail_bench_obj ${CMAKE_CURRENT_LIST_DIR}/bench_obj.cpp)
target_link_libraries(contrail_bench_obj PRIVATE contrail_mesh contrail_platform tinyobjloader::tinyobjloader
                      benchmark::benchmark)
target_include_directories(contrail_bench_obj PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(contrail_bench_obj PRIVATE CONTRAIL_DATA_DIR="${PROJECT_BINARY_DIR}/data")
if(CONTRAIL_DATA)
  add_dependencies(contrail_bench_obj contrail_data)
endif()
