# libzip for the collector, as the target `tarnhollow_libzip`.
#
# With TARNHOLLOW_STATIC_LIBZIP (the default on the Mac) libzip is built from
# one pinned release, checked against its SHA-256, and linked statically, so
# the collector needs nothing beyond what the system ships (zlib). Otherwise
# the system's shared libzip is used, found through pkg-config.
include_guard(GLOBAL)

option(TARNHOLLOW_STATIC_LIBZIP "Build libzip from the pinned release and link it statically" ${APPLE})

if(NOT TARNHOLLOW_STATIC_LIBZIP)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(LIBZIP REQUIRED IMPORTED_TARGET libzip)
  add_library(tarnhollow_libzip INTERFACE)
  target_link_libraries(tarnhollow_libzip INTERFACE PkgConfig::LIBZIP)
  return()
endif()

# The upstream release; Debian's source package of bookworm carries the same
# file as libzip_1.7.3.orig.tar.xz (scripts/fetch-libzip-source.sh).
set(TARNHOLLOW_LIBZIP_VERSION 1.7.3)
set(TARNHOLLOW_LIBZIP_SHA256 a60473ffdb7b4260c08bfa19c2ccea0438edac11193c3afbbb1f17fbcf6c6132)
set(TARNHOLLOW_LIBZIP_TARBALL "" CACHE FILEPATH
    "A local copy of the pinned libzip release; empty: download it from upstream")
if(TARNHOLLOW_LIBZIP_TARBALL)
  set(libzip_url "${TARNHOLLOW_LIBZIP_TARBALL}")
else()
  set(libzip_url "https://libzip.org/download/libzip-${TARNHOLLOW_LIBZIP_VERSION}.tar.xz")
endif()

find_package(ZLIB REQUIRED)

set(libzip_prefix "${CMAKE_BINARY_DIR}/libzip-static")
set(libzip_library "${libzip_prefix}/lib/${CMAKE_STATIC_LIBRARY_PREFIX}zip${CMAKE_STATIC_LIBRARY_SUFFIX}")

# The collector's architectures: on the Mac both, like the application.
set(TARNHOLLOW_MACOS_ARCHITECTURES "x86_64;arm64" CACHE STRING "Architectures of the Mac application")
set(libzip_platform_args)
if(APPLE)
  string(REPLACE ";" "|" archs "${TARNHOLLOW_MACOS_ARCHITECTURES}")
  list(APPEND libzip_platform_args
    "-DCMAKE_OSX_ARCHITECTURES=${archs}"
    "-DCMAKE_OSX_DEPLOYMENT_TARGET=${CMAKE_OSX_DEPLOYMENT_TARGET}"
    "-DCMAKE_OSX_SYSROOT=${CMAKE_OSX_SYSROOT}")
endif()
if(CMAKE_TOOLCHAIN_FILE)
  list(APPEND libzip_platform_args "-DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}")
endif()

include(ExternalProject)
# Only what the collector uses: deflate through zlib. No encryption, no
# other compressors, no tools; nothing else to link.
ExternalProject_Add(libzip_static
  URL "${libzip_url}"
  URL_HASH SHA256=${TARNHOLLOW_LIBZIP_SHA256}
  DOWNLOAD_NAME "libzip-${TARNHOLLOW_LIBZIP_VERSION}.tar.xz"
  DOWNLOAD_EXTRACT_TIMESTAMP ON
  PREFIX "${CMAKE_BINARY_DIR}/libzip-static-build"
  INSTALL_DIR "${libzip_prefix}"
  LIST_SEPARATOR |
  CMAKE_ARGS
    -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_INSTALL_PREFIX=<INSTALL_DIR>
    -DCMAKE_INSTALL_LIBDIR=lib
    -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON
    -DBUILD_SHARED_LIBS=OFF
    -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF -DENABLE_OPENSSL=OFF
    -DENABLE_WINDOWS_CRYPTO=OFF -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF
    -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
    ${libzip_platform_args}
  BUILD_BYPRODUCTS "${libzip_library}")

file(MAKE_DIRECTORY "${libzip_prefix}/include")
add_library(tarnhollow_libzip STATIC IMPORTED GLOBAL)
set_target_properties(tarnhollow_libzip PROPERTIES
  IMPORTED_LOCATION "${libzip_library}"
  INTERFACE_INCLUDE_DIRECTORIES "${libzip_prefix}/include"
  INTERFACE_LINK_LIBRARIES ZLIB::ZLIB)
add_dependencies(tarnhollow_libzip libzip_static)
