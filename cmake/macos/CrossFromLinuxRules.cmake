# The link and archive rules of the Mac build on Linux (CrossFromLinux.cmake).
get_filename_component(link "${TARNHOLLOW_MACOS_LINK}" ABSOLUTE)
set(link_with "\"${link}\" \"${TARNHOLLOW_ZIG}\" ${CMAKE_OSX_ARCHITECTURES} \"${TARNHOLLOW_MACOS_SDK}\" \"${TARNHOLLOW_MACOS_STUBS}\" \"${TARNHOLLOW_ZIG_CACHE}\"")
foreach(lang C CXX OBJCXX)
  set(CMAKE_${lang}_LINK_EXECUTABLE "${link_with} <FLAGS> <CMAKE_${lang}_LINK_FLAGS> <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> --format=darwin qc <TARGET> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> --format=darwin q <TARGET> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> <TARGET>")
endforeach()
