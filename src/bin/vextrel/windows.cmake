# Windows back end of the recording program: window lookup, temporary directory, console stop
# requests.
target_sources(vextrel PRIVATE ${CMAKE_CURRENT_LIST_DIR}/vextrel_windows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/arret_console_windows.cpp)
target_link_libraries(vextrel PRIVATE dwmapi user32)
