# X11 window lookup and the Linux system pieces of the recording program.
find_package(PkgConfig REQUIRED)
pkg_check_modules(BALISOR_XCB_FENETRES REQUIRED IMPORTED_TARGET xcb xcb-res)
target_sources(vextrel PRIVATE fenetres_x11.cpp vextrel_x11.cpp)
target_link_libraries(vextrel PRIVATE PkgConfig::BALISOR_XCB_FENETRES)
