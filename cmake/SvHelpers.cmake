# sv_add_test(NAME name SOURCES ... LIBS ... [CORE] [SEQUENTIAL])
# A QtTest executable run by ctest headless, with a cache folder of its own (recordings keep
# their index there), never the user's. CORE marks tests of the Qt-free core, which the
# thread-sanitizer preset runs alone; SEQUENTIAL marks core tests that start no threads, which
# that preset skips (it would only make them slower).
function(sv_add_test)
    cmake_parse_arguments(T "CORE;SEQUENTIAL" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test ${T_LIBS})
    target_compile_definitions(${T_NAME} PRIVATE SV_TEST_DATA_DIR="${CMAKE_CURRENT_SOURCE_DIR}")
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set(labels "")
    if(T_CORE)
        list(APPEND labels core)
    endif()
    if(T_SEQUENTIAL)
        list(APPEND labels sequential)
    endif()
    set_tests_properties(${T_NAME} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;XDG_CACHE_HOME=${CMAKE_BINARY_DIR}/test-cache;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;TSAN_OPTIONS=halt_on_error=1:suppressions=${PROJECT_SOURCE_DIR}/tests/tsan-qt.supp"
        LABELS "${labels}"
        TIMEOUT 300)
endfunction()
