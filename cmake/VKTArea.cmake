# vkt_area(NAME SOURCES... [DEPS libs...] [PUBLIC_DEPS libs...])
# One static archive per area of src/ and per layer of platform/. Each joins the
# umbrella shared library whole; DEPS are the system libraries it needs.
function(vkt_area name)
  cmake_parse_arguments(A "" "" "SOURCES;DEPS;AREAS" ${ARGN})
  add_library(vkt_${name} STATIC ${A_SOURCES})
  target_include_directories(vkt_${name} PUBLIC
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/src>
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/platform>)
  target_compile_definitions(vkt_${name} PRIVATE VKT_BUILDING_LIBRARY=1)
  foreach(dep IN LISTS A_AREAS)
    target_link_libraries(vkt_${name} PUBLIC vkt_${dep})
  endforeach()
  if(A_DEPS)
    target_link_libraries(vkt_${name} PUBLIC ${A_DEPS})
    set_property(GLOBAL APPEND PROPERTY VKT_AREA_DEPS ${A_DEPS})
  endif()
  set_property(GLOBAL APPEND PROPERTY VKT_AREA_LIBS vkt_${name})
endfunction()

# vkt_test(NAME [OWN_MAIN] [TIMEOUT s] [FILTER gtest-filter] LABELS... SOURCES... LIBS...)
# One GoogleTest executable per area; each test case becomes a CTest test.
# FILTER registers only the cases it matches (the others can be registered
# with other labels through vkt_test_again).
function(vkt_test name)
  cmake_parse_arguments(T "OWN_MAIN" "TIMEOUT;FILTER" "LABELS;SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  if(NOT T_OWN_MAIN)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # The labels pass through three list expansions before they reach
  # set_tests_properties; unescaped, every label but the first (and the
  # timeout and environment after them) would be lost.
  string(REPLACE ";" "\\\\\\\\\\\\\\;" labels "${T_LABELS}")
  set(filter "")
  if(T_FILTER)
    set(filter TEST_FILTER "${T_FILTER}")
  endif()
  gtest_discover_tests(${name}
    ${filter}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "TZ=Europe/Rome")
endfunction()

# Registers the tests of an existing test program `name` once more, prefixed
# `prefix`, with extra environment entries (a second backend, say); with
# FILTER only the cases it matches.
function(vkt_test_again name)
  cmake_parse_arguments(T "" "PREFIX;TIMEOUT;FILTER" "LABELS;ENV" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  string(REPLACE ";" "\\\\\\\\\\\\\\;" labels "${T_LABELS}")
  set(env "TZ=Europe/Rome" ${T_ENV})
  string(REPLACE ";" "\\\\\\\\\\\\\\;" env "${env}")
  set(filter "")
  if(T_FILTER)
    set(filter TEST_FILTER "${T_FILTER}")
  endif()
  gtest_discover_tests(${name}
    ${filter}
    TEST_PREFIX "${T_PREFIX}"
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "${env}")
endfunction()
