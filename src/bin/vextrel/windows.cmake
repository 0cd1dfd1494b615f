# Windows back end of the bench: window lookup and temporary directory.
target_sources(vextrel PRIVATE ${CMAKE_CURRENT_LIST_DIR}/plateforme_windows.cpp)
target_link_libraries(vextrel PRIVATE dwmapi user32)
