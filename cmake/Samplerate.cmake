# libsamplerate, the resampler kestrel-play writes what was heard with
# (host/resampler.cpp). Debian packages it for Linux only, and the same
# version has to build for both Windows toolchains too, so every build
# compiles it from the source Debian ships: the upstream release tarball
# from Debian's package pool, checked against its hash. It is fetched once
# into build/downloads and shared by every preset.
include(FetchContent)

set(KESTREL_DEBIAN_MIRROR "http://deb.debian.org/debian"
    CACHE STRING "Debian mirror whose package pool the third-party sources come from")
set(samplerate_file libsamplerate_0.2.2.orig.tar.gz)
FetchContent_Declare(samplerate
  URL ${KESTREL_DEBIAN_MIRROR}/pool/main/libs/libsamplerate/${samplerate_file}
  URL_HASH SHA256=16e881487f184250deb4fcb60432d7556ab12cb58caea71ef23960aec6c0405a
  DOWNLOAD_DIR ${PROJECT_SOURCE_DIR}/build/downloads
  DOWNLOAD_NO_PROGRESS ON)
FetchContent_GetProperties(samplerate)
if(NOT samplerate_POPULATED)
  message(STATUS "libsamplerate: ${samplerate_file} from ${KESTREL_DEBIAN_MIRROR}")
  FetchContent_Populate(samplerate)
endif()

# Built here rather than by its own CMake project, whose tests and options
# would mix with this project's. The medium sinc converter is the one used;
# the fastest comes with it, and the best one (a 9 MB coefficient table) is
# left out.
set(samplerate_src ${samplerate_SOURCE_DIR}/src)
add_library(samplerate STATIC ${samplerate_src}/samplerate.c ${samplerate_src}/src_linear.c
                              ${samplerate_src}/src_sinc.c ${samplerate_src}/src_zoh.c)
target_include_directories(samplerate SYSTEM PUBLIC ${samplerate_SOURCE_DIR}/include)
target_compile_definitions(samplerate PRIVATE HAVE_STDBOOL_H ENABLE_SINC_FAST_CONVERTER
                           ENABLE_SINC_MEDIUM_CONVERTER PACKAGE="libsamplerate" VERSION="0.2.2")
set_target_properties(samplerate PROPERTIES C_STANDARD 99 C_VISIBILITY_PRESET hidden)
if(NOT WIN32)
  target_link_libraries(samplerate PRIVATE m)
endif()
