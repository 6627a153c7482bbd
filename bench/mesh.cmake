# OBJ loader against tinyobjloader on a large generated mesh.
find_package(tinyobjloader CONFIG REQUIRED)
add_executable(contrail_bench_obj ${CMAKE_CURRENT_LIST_DIR}/bench_obj.cpp)
target_link_libraries(contrail_bench_obj PRIVATE contrail_mesh tinyobjloader::tinyobjloader benchmark::benchmark)
