# skelvane_add_test(<name> LABEL <unit|integration|fuzz> SOURCES ... LIBS ...)
# Builds one Qt Test executable and registers it with CTest. Widgets run on
# the offscreen platform.
function(skelvane_add_test name)
    cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS" ${ARGN})
    if(NOT T_LABEL)
        set(T_LABEL unit)
    endif()
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test ${T_LIBS})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests/common)
    target_compile_definitions(${name} PRIVATE SKELVANE_SCREENSHOT_DIR="${CMAKE_BINARY_DIR}/screenshots")
    skelvane_warnings(${name})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT T_TIMEOUT)
        set(T_TIMEOUT 300)
    endif()
    set_tests_properties(${name} PROPERTIES
        LABELS ${T_LABEL}
        TIMEOUT ${T_TIMEOUT}
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;ASAN_OPTIONS=detect_leaks=1:abort_on_error=1;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endfunction()

# skelvane_add_unit_tests(<library>): one unit test executable per *Test.cpp of
# the calling folder, linked with the library.
function(skelvane_add_unit_tests library)
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
    foreach(source ${sources})
        get_filename_component(name ${source} NAME_WE)
        skelvane_add_test(${name} LABEL unit SOURCES ${source} LIBS ${library} ${ARGN})
        target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
    endforeach()
endfunction()
