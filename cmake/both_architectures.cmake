# Both DLLs from one source: each architecture configured with its own toolchain in a
# tree of its own (x86/ and x64/ here, the folders of the mingw-i686 and mingw-x86_64
# presets), built by default, tested in one ctest run, and installed and zipped as
# one distribution.
include(ExternalProject)
option(BUILD_TESTING "Build the tests, the test kits and the benchmarks" ON)
option(TARVO_WARNINGS_AS_ERRORS "Treat compiler warnings as errors" OFF)
set(TARVO_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file to sign both DLLs with (empty: unsigned)")
set(TARVO_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the PKCS#12 file's password")

include(${CMAKE_CURRENT_LIST_DIR}/x86_runs.cmake)
set(toolchain_x86 mingw-i686)
set(toolchain_x64 mingw-x86_64)
set(previous "")
foreach(arch x86 x64)
  ExternalProject_Add(${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${toolchain_${arch}}.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DBUILD_TESTING=${BUILD_TESTING}
               -DTARVO_WARNINGS_AS_ERRORS=${TARVO_WARNINGS_AS_ERRORS} -DPython3_ROOT_DIR=${Python3_ROOT_DIR}
               -DTARVO_SIGN_PKCS12=${TARVO_SIGN_PKCS12} -DTARVO_SIGN_PASSWORD_FILE=${TARVO_SIGN_PASSWORD_FILE}
               -DTARVO_X86_RUNS=${TARVO_X86_RUNS}
    # One tree after the other, each with every core, rather than both at once.
    DEPENDS ${previous}
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON
    INSTALL_COMMAND "")
  set(previous ${arch})
  # The distribution takes what each tree installs.
  install(SCRIPT ${CMAKE_BINARY_DIR}/${arch}/cmake_install.cmake)
endforeach()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME TarvoSetup)
set(CPACK_PACKAGE_VENDOR "Tarvo Software")
set(CPACK_PACKAGE_FILE_NAME TarvoSetup-${PROJECT_VERSION})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)

if(BUILD_TESTING)
  enable_testing()
  # One run over both trees' tests, which carry their architecture in their names.
  file(WRITE ${CMAKE_BINARY_DIR}/architectures.cmake "subdirs(x86 x64)\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${CMAKE_BINARY_DIR}/architectures.cmake)
  # What belongs to neither architecture alone.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME distribution
    COMMAND ${PROJECT_SOURCE_DIR}/tests/package_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/package
            TarvoSetup-${PROJECT_VERSION})
  add_test(NAME doc_excerpts
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/check_doc_excerpts.py ${PROJECT_SOURCE_DIR}
            docs/reference.md README.md)
  set_tests_properties(distribution doc_excerpts PROPERTIES LABELS both)
endif()
