# Shared by the test directories of the capture device, the exposure engine
# and the image output: each binary is added once the platform areas it
# links against are in the tree.
include_guard(GLOBAL)

function(noctil_h6_areas_present out)
  set(${out} TRUE PARENT_SCOPE)
  foreach(area ${ARGN})
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/platform/${area}/CMakeLists.txt)
      set(${out} FALSE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

function(noctil_h6_test name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/platform ${CMAKE_CURRENT_SOURCE_DIR})
  # gtest first: its file calls go through the platform's wrapped fopen too.
  target_link_libraries(${name} PRIVATE GTest::gtest_main GTest::gtest noctil_program noctil_platform)
  if(TARGET noctil_resources)
    target_link_libraries(${name} PRIVATE noctil_resources)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# Whether the platform implements every Win32 call named (a definition
# "WINAPI <name>(" in some platform source): a test binary that needs a call
# still being written is left out rather than breaking the link.
function(noctil_h6_calls_present out)
  file(GLOB_RECURSE sources ${CMAKE_SOURCE_DIR}/platform/*.cpp)
  set(${out} TRUE PARENT_SCOPE)
  foreach(call ${ARGN})
    set(found FALSE)
    foreach(source ${sources})
      file(STRINGS ${source} hits REGEX "WINAPI ${call}\\(")
      if(hits)
        set(found TRUE)
        break()
      endif()
    endforeach()
    if(NOT found)
      set(${out} FALSE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
