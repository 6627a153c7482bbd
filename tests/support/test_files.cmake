# contrail_test_files: scratch folders, small files and BMP pictures for the
# tests, built for Linux (tests/support) and for Windows (tests/windows).
add_library(contrail_test_files STATIC ${CMAKE_CURRENT_LIST_DIR}/test_assets.cpp)
target_link_libraries(contrail_test_files PUBLIC contrail_tool_files)
contrail_module(contrail_test_files)
