# Windows back end of the conversion: the D3D11 video processor.
target_sources(conversion PRIVATE ${CMAKE_CURRENT_LIST_DIR}/conversion_windows.cpp)
target_link_libraries(conversion PUBLIC d3d11)
