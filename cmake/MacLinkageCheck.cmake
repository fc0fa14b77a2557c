# After every build on the Mac: the bundle's programs link nothing outside the
# system (/usr/lib, /System) and carry every architecture the kit promises,
# so that the bundle runs on any Mac from the deployment target on.
set(checked_programs "$<TARGET_FILE:TarnhollowApp>")
if(TARGET tarnhollow_collector)
  string(APPEND checked_programs "|$<TARGET_FILE:tarnhollow_collector>")
endif()
string(REPLACE ";" "|" checked_architectures "${CMAKE_OSX_ARCHITECTURES}")
add_custom_target(check_bundle_libraries ALL
  COMMAND "${CMAKE_COMMAND}" "-DPROGRAMS=${checked_programs}" "-DARCHITECTURES=${checked_architectures}"
          -P "${PROJECT_SOURCE_DIR}/cmake/CheckMacLibraries.cmake"
  COMMENT "Checking the libraries and architectures of the bundle's programs"
  VERBATIM)
add_dependencies(check_bundle_libraries TarnhollowApp)
if(TARGET tarnhollow_collector)
  add_dependencies(check_bundle_libraries tarnhollow_collector)
endif()
