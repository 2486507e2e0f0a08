# Windows programs cross-built here (the tests, and whatever CMake itself runs of them) run under
# wine through <build>/wine-run.sh, which finds the DLLs they need.
if(NOT (WIN32 AND CMAKE_CROSSCOMPILING))
  return()
endif()
set(velomi_wine_path)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  get_filename_component(dir "${found}" DIRECTORY)
  list(APPEND velomi_wine_path "${dir}")
endforeach()
find_package(Qt6 QUIET COMPONENTS Core)
if(Qt6_FOUND)
  list(APPEND velomi_wine_path "${QT6_INSTALL_PREFIX}/${QT6_INSTALL_BINS}")
endif()
list(REMOVE_DUPLICATES velomi_wine_path)
list(JOIN velomi_wine_path ";" VELOMI_WINEPATH)  # wine's separator too
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh @ONLY
  FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
  WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)
