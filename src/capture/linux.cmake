# X11 back end: xcb window capture through MIT-SHM.
find_package(PkgConfig REQUIRED)
pkg_check_modules(BALISOR_XCB_CAPTURE REQUIRED IMPORTED_TARGET xcb xcb-shm)
target_sources(capture PRIVATE affichage_x11.cpp capture_x11.cpp sondage_x11.cpp)
target_link_libraries(capture PUBLIC PkgConfig::BALISOR_XCB_CAPTURE Threads::Threads)
