# The Windows program under Wine (tests/wine/README.md): a stand-in for the
# port driver's DLL that records what it is given, a holder of serial ports,
# and the cases, run in one Wine prefix per suite run.
set(support ${CMAKE_SOURCE_DIR}/tests/support/windows)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(inpout_name inpoutx64)
else()
  set(inpout_name inpout32)
endif()
add_library(fake_inpout SHARED ${support}/fake_inpout.cpp)
# The driver's DLL exports its stdcall functions by their plain names.
set_target_properties(fake_inpout PROPERTIES PREFIX "" OUTPUT_NAME ${inpout_name}
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fake_inpout RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fake_inpout)
target_link_options(fake_inpout PRIVATE -static -Wl,--kill-at)

add_executable(hold_port ${support}/hold_port.cpp)
target_link_options(hold_port PRIVATE -static)

add_executable(menu_items ${support}/menu_items.cpp)
target_link_options(menu_items PRIVATE -static)

add_executable(port_test ${CMAKE_CURRENT_LIST_DIR}/port_test.cpp)
target_link_libraries(port_test PRIVATE noctil_camera_lines)
target_link_options(port_test PRIVATE -static)

# A 32-bit build of the same stand-in, for the 64-bit program to refuse.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  find_program(NOCTIL_I686_CXX i686-w64-mingw32-g++-posix)
  if(NOCTIL_I686_CXX)
    set(fake32 ${CMAKE_BINARY_DIR}/fake_inpout32/inpout32.dll)
    add_custom_command(OUTPUT ${fake32}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/fake_inpout32
      COMMAND ${NOCTIL_I686_CXX} -std=c++20 -O2 -Wall -Werror -shared -static -Wl,--kill-at
              -o ${fake32} ${support}/fake_inpout.cpp
      DEPENDS ${support}/fake_inpout.cpp
      COMMENT "Building the 32-bit stand-in of the port driver's DLL"
      VERBATIM)
    add_custom_target(fake_inpout32 ALL DEPENDS ${fake32})
  endif()
endif()

# The cases run the 64-bit program; Debian's wine64 runs no 32-bit one.
find_program(NOCTIL_WINE wine)
find_program(NOCTIL_XVFB Xvfb)
find_program(NOCTIL_XDOTOOL xdotool)
if(CMAKE_SIZEOF_VOID_P EQUAL 8 AND NOCTIL_WINE AND NOCTIL_XVFB AND NOCTIL_XDOTOOL)
  set(wine_state ${CMAKE_BINARY_DIR}/wine)
  set(wine_dir ${CMAKE_CURRENT_LIST_DIR})
  add_test(NAME wine_start COMMAND ${wine_dir}/wine.sh start ${wine_state})
  add_test(NAME wine_stop COMMAND ${wine_dir}/wine.sh stop ${wine_state})
  set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine RESOURCE_LOCK wine TIMEOUT 300)
  set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine RESOURCE_LOCK wine TIMEOUT 60)
  set(wine_env "NOCTIL_WINE_STATE=${wine_state};NOCTIL_WIN_BUILD=${CMAKE_BINARY_DIR};NOCTIL_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  add_test(NAME wine_port_test COMMAND ${wine_dir}/run_port_test.sh $<TARGET_FILE:port_test>)
  file(GLOB wine_cases CONFIGURE_DEPENDS ${wine_dir}/cases/*.sh)
  foreach(case ${wine_cases})
    get_filename_component(name ${case} NAME_WE)
    add_test(NAME wine_${name} COMMAND bash ${case})
  endforeach()
  get_property(wine_tests DIRECTORY PROPERTY TESTS)
  foreach(t ${wine_tests})
    if(t MATCHES "^wine_" AND NOT t MATCHES "^wine_(start|stop)$")
      set_tests_properties(${t} PROPERTIES FIXTURES_REQUIRED wine RESOURCE_LOCK wine TIMEOUT 300
        ENVIRONMENT "${wine_env}")
    endif()
  endforeach()
endif()
