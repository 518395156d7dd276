# Small helpers shared by every folder.

# Warnings for our own code only.
function(zarn_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
endfunction()

# zarn_library(name SOURCES ... LINKS ...): one static library per folder under src/. Its headers
# for other libraries live in include/<folder>/ and are reachable only by the targets that link it,
# directly or through a library above it, so an include from a lower layer of a higher one fails to
# compile. Headers beside the sources are the library's own.
function(zarn_library name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
    add_library(${name} STATIC ${ARG_SOURCES})
    target_include_directories(${name} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include)
    target_link_libraries(${name} PUBLIC ${ARG_LINKS})
    zarn_warnings(${name})
endfunction()

# zarn_test(name SOURCES ... LINKS ... [ENVIRONMENT ...]): one GoogleTest program, registered with CTest.
function(zarn_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LINKS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LINKS} GTest::gtest GTest::gmock GTest::gtest_main)
    zarn_warnings(${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 600)
    endif()
    gtest_discover_tests(${name}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        PROPERTIES TIMEOUT ${ARG_TIMEOUT} ENVIRONMENT "${ARG_ENVIRONMENT}")
endfunction()
