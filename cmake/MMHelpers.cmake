# Shared build conventions: one function per kind of target so every library,
# plugin, test, benchmark and fuzzer is built, installed and exported alike.

include(CMakePackageConfigHelpers)

# Install components, one Debian package each (MMPackaging.cmake): "runtime"
# (shared libraries and plugins), "dev" (headers, the CMake package,
# pkg-config files, static kit) and one per tool. An install rule that names
# no component installs headers or build-time files, so it goes to "dev".
set(CMAKE_INSTALL_DEFAULT_COMPONENT_NAME dev)

add_library(mm_warnings INTERFACE)
target_compile_options(mm_warnings INTERFACE -Wall -Wextra -Werror)

macro(mm_setup_sanitizers)
  if(MM_SANITIZE)
    string(REPLACE ";" "," _mm_san "${MM_SANITIZE}")
    add_compile_options(-fsanitize=${_mm_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${_mm_san})
  endif()
  if(MM_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
  endif()
endmacro()

# Add each listed folder that has a CMakeLists.txt.
function(mm_subdirs)
  foreach(dir IN LISTS ARGN)
    if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
      add_subdirectory(${PROJECT_SOURCE_DIR}/${dir} ${CMAKE_BINARY_DIR}/${dir})
    endif()
  endforeach()
endfunction()

# Every immediate sub-folder of the current folder that has a CMakeLists.txt.
# With BUILD_SUFFIX, each builds in <child><suffix>, so a program named like its
# folder can sit at the folder's own path in the build tree.
function(mm_all_subdirs)
  cmake_parse_arguments(A "" "BUILD_SUFFIX" "" ${ARGN})
  file(GLOB children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child IN LISTS children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child} ${CMAKE_CURRENT_BINARY_DIR}/${child}${A_BUILD_SUFFIX})
    endif()
  endforeach()
endfunction()

set_property(GLOBAL PROPERTY MM_EXPORTED_TARGETS "")

# mm_library(<name> [PLUGIN] SOURCES ... [HEADERS ...] [PUBLIC_LIBS ...]
#            [PRIVATE_LIBS ...] [PKG_REQUIRES ...])
# A shared library with hidden symbols, built into build/lib, installed with its
# headers (kept at their path relative to the source root), exported as mm::<name>
# and described by a pkg-config file. PLUGIN marks a library loaded with dlopen:
# it is installed but gets no headers or pkg-config file.
function(mm_library name)
  cmake_parse_arguments(A "PLUGIN" "" "SOURCES;HEADERS;PUBLIC_LIBS;PRIVATE_LIBS;PKG_REQUIRES" ${ARGN})
  add_library(${name} SHARED ${A_SOURCES})
  add_library(mm::${name} ALIAS ${name})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_libraries(${name} PUBLIC ${A_PUBLIC_LIBS} PRIVATE ${A_PRIVATE_LIBS} $<BUILD_INTERFACE:mm_warnings>)
  set_target_properties(${name} PROPERTIES
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    EXPORT_NAME ${name})
  if(NOT A_PLUGIN)
    set_target_properties(${name} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
  install(TARGETS ${name} EXPORT multimediaTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  set_property(GLOBAL APPEND PROPERTY MM_EXPORTED_TARGETS ${name})
  foreach(h IN LISTS A_HEADERS)
    get_filename_component(abs ${h} ABSOLUTE)
    file(RELATIVE_PATH rel ${PROJECT_SOURCE_DIR} ${abs})
    get_filename_component(reldir ${rel} DIRECTORY)
    install(FILES ${abs} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/${reldir} COMPONENT dev)
  endforeach()
  if(NOT A_PLUGIN)
    set(MM_PC_NAME ${name})
    string(JOIN " " MM_PC_REQUIRES ${A_PKG_REQUIRES})
    configure_file(${PROJECT_SOURCE_DIR}/cmake/library.pc.in ${CMAKE_BINARY_DIR}/pkgconfig/${name}.pc @ONLY)
    install(FILES ${CMAKE_BINARY_DIR}/pkgconfig/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
      COMPONENT dev)
  endif()
endfunction()

# mm_executable(<name> SOURCES ... [LIBS ...]): a tool in build/bin, installed
# as the install component (and Debian package) of its own name.
function(mm_executable name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} mm_warnings)
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT ${name})
endfunction()

# mm_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [NO_MAIN])
# A GoogleTest binary in build/tests; each test case becomes a CTest test.
# Labels: every test gets its area's labels plus "asan" unless NO_ASAN is given,
# so the asan preset runs it; "tsan" opts into the tsan preset.
function(mm_test name)
  cmake_parse_arguments(A "NO_MAIN;NO_ASAN" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 120)
  endif()
  add_executable(${name} ${A_SOURCES})
  if(A_NO_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gmock)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gmock)
  endif()
  target_link_libraries(${name} PRIVATE ${A_LIBS} mm_test_support Threads::Threads mm_warnings)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  set(labels ${A_LABELS})
  if(NOT A_NO_ASAN)
    list(APPEND labels asan)
  endif()
  set(env
    "MM_BUILD_DIR=${CMAKE_BINARY_DIR}"
    "MM_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1"
    "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/lsan.supp:print_suppressions=0:use_tls=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/sanitizers/tsan.supp:halt_on_error=1")
  gtest_discover_tests(${name}
    DISCOVERY_TIMEOUT 120
    DISCOVERY_MODE PRE_TEST)
  # gtest_discover_tests flattens list-valued PROPERTIES (several labels, the
  # environment), so the discovered tests get theirs from a file ctest reads
  # after the discovered list.
  set(props ${CMAKE_CURRENT_BINARY_DIR}/${name}_properties.cmake)
  file(WRITE ${props}
    "if(DEFINED ${name}_TESTS)\n"
    "  set_tests_properties(\${${name}_TESTS} PROPERTIES\n"
    "    LABELS [==[${labels}]==] TIMEOUT ${A_TIMEOUT}\n"
    "    ENVIRONMENT [==[${env}]==])\n"
    "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${props})
endfunction()

# mm_benchmark(<name> SOURCES ... [LIBS ...]): a Google Benchmark binary in build/bench.
function(mm_benchmark name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE benchmark::benchmark ${A_LIBS} mm_warnings)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# mm_fuzzer(<name> SOURCES ... [LIBS ...]): a libFuzzer target in build-fuzz/fuzz.
function(mm_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  target_link_libraries(${name} PRIVATE ${A_LIBS} mm_warnings)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  if(NOT TARGET mm_fuzzers)
    add_custom_target(mm_fuzzers)
  endif()
  add_dependencies(mm_fuzzers ${name})
endfunction()

# The CMake package (find_package(multimedia) with mm:: targets) for every
# library, and the Debian packages of the whole install.
macro(mm_install_package)
  set(dest ${CMAKE_INSTALL_LIBDIR}/cmake/multimedia)
  install(EXPORT multimediaTargets NAMESPACE mm:: DESTINATION ${dest} COMPONENT dev)
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/multimediaConfig.cmake.in
    ${CMAKE_BINARY_DIR}/multimediaConfig.cmake INSTALL_DESTINATION ${dest})
  write_basic_package_version_file(${CMAKE_BINARY_DIR}/multimediaConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_BINARY_DIR}/multimediaConfig.cmake ${CMAKE_BINARY_DIR}/multimediaConfigVersion.cmake
    DESTINATION ${dest} COMPONENT dev)
  include(MMPackaging)
endmacro()
