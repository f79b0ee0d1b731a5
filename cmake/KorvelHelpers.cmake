# Build helpers shared by every folder.

# Where each bundle's module library lives, relative to the others: modules find the core two
# folders up and the libraries they link against (Jumpers, Pictor, Leds) in sibling bundles,
# so the dynamic loader and the linker resolve the same files wherever the tree is copied.
set(KORVEL_MODULE_RUNPATH "$ORIGIN:$ORIGIN/../..:$ORIGIN/../Jumpers:$ORIGIN/../Pictor:$ORIGIN/../Leds")

# korvel_module(<target> BUNDLE <folder> SOURCES ... [LINKS ...] [INFO <Info.list>] [DATA files...])
# A plug-in module: a shared library staged into DOCS/<folder>/ together with its Info.list and
# data files.
function(korvel_module target)
  cmake_parse_arguments(M "" "BUNDLE;INFO" "SOURCES;LINKS;DATA" ${ARGN})
  add_library(${target} SHARED ${M_SOURCES})
  target_link_libraries(${target} PRIVATE Korvel ${M_LINKS})
  set(dir ${KORVEL_STAGE_DOCS}/${M_BUNDLE})
  set_target_properties(${target} PROPERTIES
    LIBRARY_OUTPUT_DIRECTORY ${dir}
    BUILD_RPATH "${KORVEL_MODULE_RUNPATH}"
    INSTALL_RPATH "${KORVEL_MODULE_RUNPATH}"
    BUILD_WITH_INSTALL_RPATH ON)
  target_link_options(${target} PRIVATE -Wl,--enable-new-dtags -Wl,--no-undefined)
  if(M_INFO)
    configure_file(${M_INFO} ${dir}/Info.list COPYONLY)
  endif()
  foreach(f ${M_DATA})
    get_filename_component(name ${f} NAME)
    configure_file(${f} ${dir}/${name} COPYONLY)
  endforeach()
endfunction()

# korvel_test(<target> SOURCES ... [LIBS ...] [LABELS ...] [GUI] [TIMEOUT s] [ARGS ...])
# A GoogleTest program registered with CTest. GUI tests run under xvfb-run with a timeout so
# that a stuck window never hangs the run.
function(korvel_test target)
  cmake_parse_arguments(T "GUI" "TIMEOUT" "SOURCES;LIBS;LABELS;ARGS" ${ARGN})
  add_executable(${target} ${T_SOURCES})
  target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  if(NOT T_GUI)
    target_link_libraries(${target} PRIVATE GTest::gtest_main)
  endif()
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 120)
  endif()
  if(T_GUI)
    add_test(NAME ${target}
      COMMAND xvfb-run -a -s "-screen 0 1280x1024x24" timeout ${T_TIMEOUT} $<TARGET_FILE:${target}> ${T_ARGS})
    set_tests_properties(${target} PROPERTIES ENVIRONMENT "GSETTINGS_BACKEND=memory;SDL_AUDIODRIVER=dummy")
  else()
    add_test(NAME ${target} COMMAND $<TARGET_FILE:${target}> ${T_ARGS})
    set_tests_properties(${target} PROPERTIES ENVIRONMENT "SDL_AUDIODRIVER=dummy")
  endif()
  set_tests_properties(${target} PROPERTIES LABELS "${T_LABELS}" TIMEOUT ${T_TIMEOUT})
  set_property(TEST ${target} APPEND PROPERTY ENVIRONMENT
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0"
    "ASAN_OPTIONS=detect_odr_violation=0"
    "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/tsan.supp")
  if("tsan" IN_LIST T_LABELS)
    set_property(GLOBAL APPEND PROPERTY KORVEL_TSAN_TESTS ${target})
  endif()
endfunction()

# Extra targets a tsan-labelled test needs at run time (plug-in modules it loads, say).
function(korvel_tsan_needs)
  set_property(GLOBAL APPEND PROPERTY KORVEL_TSAN_TESTS ${ARGN})
endfunction()
