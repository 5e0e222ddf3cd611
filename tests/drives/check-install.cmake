# Installs the build tree into a scratch prefix and fails when anything named
# "helper" lands in a bin directory: the program finds its helper beside
# itself, so a "helper" in /usr/bin would both shadow other programs' and be
# taken for ours. Usage: cmake -DBUILD_DIR=... -DPREFIX=... -P check-install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${output}")
endif()
file(GLOB_RECURSE installed LIST_DIRECTORIES true "${PREFIX}/*")
foreach(path IN LISTS installed)
    if(path MATCHES "/bin/helper$")
        message(FATAL_ERROR "installed into a bin directory: ${path}")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
