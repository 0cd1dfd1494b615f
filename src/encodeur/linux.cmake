# libavcodec back end: libx264 as an asynchronous transform.
find_package(PkgConfig REQUIRED)
pkg_check_modules(BALISOR_AVCODEC REQUIRED IMPORTED_TARGET libavcodec libavutil)
target_sources(encodeur PRIVATE encodeur_ffmpeg.cpp)
target_link_libraries(encodeur PUBLIC PkgConfig::BALISOR_AVCODEC conversion Threads::Threads)
