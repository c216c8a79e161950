# Shared settings of the project's own targets.

set(KV_CORE_TARGETS "" CACHE INTERNAL "")

# Warnings as errors on project code only.
function(kv_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# A logic library: must build and test without a display.
function(kv_core_library target)
  add_library(${target} STATIC ${ARGN})
  kv_target_defaults(${target})
  set(KV_CORE_TARGETS ${KV_CORE_TARGETS} ${target} CACHE INTERNAL "")
endfunction()

# Fails the configuration when a logic library links the widget module.
function(kv_check_core_targets)
  foreach(target IN LISTS KV_CORE_TARGETS)
    get_target_property(libs ${target} LINK_LIBRARIES)
    if(libs)
      foreach(lib IN LISTS libs)
        if(lib MATCHES "Widgets")
          message(FATAL_ERROR "${target} is a logic library and must not link ${lib}")
        endif()
      endforeach()
    endif()
  endforeach()
endfunction()

# A GoogleTest executable registered with CTest.
function(kv_test target)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${target} ${T_SOURCES})
  kv_target_defaults(${target})
  target_link_libraries(${target} PRIVATE ${T_LIBS} GTest::gtest)
  gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES ${T_PROPERTIES})
endfunction()

include(GoogleTest)
