# Toolchain for the Mac build on Linux (scripts/macos-build.sh): Debian's clang
# compiles for one Mac architecture against the macOS SDK, and zig's linker
# links Mach-O programs against the SDK's stubs. Set on the command line:
#   CMAKE_OSX_ARCHITECTURES     x86_64 or arm64, one per build folder
#   TARNHOLLOW_MACOS_SDK        the sysroot (shared/tools/macos-sysroot)
#   TARNHOLLOW_MACOS_STUBS      a folder of extra link stubs (libz, libicucore)
#   TARNHOLLOW_ZIG              zig's program
#   TARNHOLLOW_ZIG_CACHE        zig's cache (it builds libc++ there once per target)
#   TARNHOLLOW_MACOS_PREFIX     where Mac builds of other libraries lie (GoogleTest)
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_VERSION 20) # macOS 11
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
  TARNHOLLOW_MACOS_SDK TARNHOLLOW_MACOS_STUBS TARNHOLLOW_ZIG TARNHOLLOW_ZIG_CACHE TARNHOLLOW_MACOS_PREFIX)
foreach(setting TARNHOLLOW_MACOS_SDK TARNHOLLOW_MACOS_STUBS TARNHOLLOW_ZIG TARNHOLLOW_ZIG_CACHE)
  if(NOT ${setting})
    message(FATAL_ERROR "${setting} is not set; scripts/macos-build.sh sets it")
  endif()
endforeach()
if(NOT CMAKE_OSX_ARCHITECTURES MATCHES "^(x86_64|arm64)$")
  message(FATAL_ERROR "one architecture per build on Linux (x86_64 or arm64), not '${CMAKE_OSX_ARCHITECTURES}'")
endif()
set(CMAKE_SYSTEM_PROCESSOR ${CMAKE_OSX_ARCHITECTURES})
set(CMAKE_OSX_SYSROOT "${TARNHOLLOW_MACOS_SDK}")

find_program(clang NAMES clang clang-14 REQUIRED)
find_program(clangxx NAMES clang++ clang++-14 REQUIRED)
find_program(llvm_ar NAMES llvm-ar llvm-ar-14 REQUIRED)
find_program(llvm_ranlib NAMES llvm-ranlib llvm-ranlib-14 REQUIRED)
find_program(llvm_install_name_tool NAMES llvm-install-name-tool llvm-install-name-tool-14 REQUIRED)
set(CMAKE_C_COMPILER "${clang}")
set(CMAKE_CXX_COMPILER "${clangxx}")
set(CMAKE_OBJCXX_COMPILER "${clangxx}")
foreach(lang C CXX OBJCXX)
  set(CMAKE_${lang}_COMPILER_TARGET ${CMAKE_OSX_ARCHITECTURES}-apple-macos11)
endforeach()
set(CMAKE_CXX_FLAGS_INIT -stdlib=libc++)
set(CMAKE_OBJCXX_FLAGS_INIT -stdlib=libc++)
set(CMAKE_AR "${llvm_ar}")
set(CMAKE_RANLIB "${llvm_ranlib}")
set(CMAKE_INSTALL_NAME_TOOL "${llvm_install_name_tool}")
# Configuring compiles only; the first link of a target builds zig's libc++.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Links, and archives in the Mac's format, with the tools above (after the
# Darwin platform's own rules, which name Apple's tools).
set(CMAKE_USER_MAKE_RULES_OVERRIDE "${CMAKE_CURRENT_LIST_DIR}/CrossFromLinuxRules.cmake")
set(TARNHOLLOW_MACOS_LINK "${CMAKE_CURRENT_LIST_DIR}/../../scripts/macos/zig-link.sh")

# Headers and libraries from the SDK and the Mac builds of other libraries,
# programs from this machine.
set(CMAKE_FIND_ROOT_PATH "${TARNHOLLOW_MACOS_SDK}" ${TARNHOLLOW_MACOS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
