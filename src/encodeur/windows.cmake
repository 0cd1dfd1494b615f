# Windows back end of the encoder: the hardware Media Foundation transform.
target_sources(encodeur PRIVATE ${CMAKE_CURRENT_LIST_DIR}/encodeur_windows.cpp)
target_link_libraries(encodeur PUBLIC mfplat mfuuid propsys oleaut32 ole32)
