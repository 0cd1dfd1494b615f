# Windows back end of the capture: DXGI/D3D11 device and the window-capture runtime.
target_sources(capture PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/peripherique_windows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/capture_windows.cpp
  ${CMAKE_CURRENT_LIST_DIR}/gestionnaires_windows.cpp)
target_link_libraries(capture PUBLIC d3d11 dxgi runtimeobject ole32)
