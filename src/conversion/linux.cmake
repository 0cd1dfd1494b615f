# libswscale back end: BGRA to NV12 on the CPU.
find_package(PkgConfig REQUIRED)
pkg_check_modules(BALISOR_SWSCALE REQUIRED IMPORTED_TARGET libswscale libavutil)
target_sources(conversion PRIVATE conversion_ffmpeg.cpp journal_ffmpeg.cpp)
target_link_libraries(conversion PUBLIC PkgConfig::BALISOR_SWSCALE)
