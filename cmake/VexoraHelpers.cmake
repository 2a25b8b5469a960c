# The subsystem libraries are plain C++20 plus the platform's C APIs. Linking
# Qt into one of them is a layering fault, so the build refuses it.
function(vexora_core_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  set_property(TARGET ${name} PROPERTY VEXORA_CORE ON)
endfunction()

function(vexora_check_no_qt name)
  get_target_property(libs ${name} LINK_LIBRARIES)
  if(libs)
    foreach(lib IN LISTS libs)
      if(lib MATCHES "^Qt[0-9]*::")
        message(FATAL_ERROR "${name} is a core library and must not link ${lib}")
      endif()
    endforeach()
  endif()
endfunction()

# One test executable per unit, registered with CTest.
function(vexora_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
endfunction()
