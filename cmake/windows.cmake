# Windows builds (win64, win32): the Windows edge, the dialog layer, resources,
# korvane.exe and the Windows tests, which ctest runs under Wine through
# scripts/wine-run.sh.

enable_language(RC)

add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0600)
add_link_options(-static)

set(win_sources)
foreach(dir ${KORVANE_SUBSYSTEMS})
  file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/win/*.cpp)
  list(APPEND win_sources ${found})
endforeach()
file(GLOB ui_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/ui/*.cpp)
list(APPEND win_sources ${ui_sources})
list(FILTER win_sources EXCLUDE REGEX "/app/win/program_main\\.cpp$")

add_library(korvane_win STATIC ${win_sources})
target_link_libraries(korvane_win PUBLIC korvane_core
  comctl32 comdlg32 shell32 ole32 oleaut32 uuid advapi32 version ws2_32 gdi32 user32 kernel32)

# The kernel driver, NtDriver.sys, of the target's width: the request core and the
# kernel layer, linked as a native-subsystem image against ntoskrnl. It travels in the
# resources as RCDATA 161.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86")
  set(driver_entry _DriverEntry@8)
else()
  set(driver_entry DriverEntry)
endif()
set(driver_sources ${CMAKE_SOURCE_DIR}/driver/kernel/driver_core.c ${CMAKE_SOURCE_DIR}/driver/kernel/driver_nt.c)
set(driver_file ${CMAKE_BINARY_DIR}/NtDriver.sys)
add_custom_command(OUTPUT ${driver_file}
  COMMAND ${CMAKE_C_COMPILER} -O2 -std=gnu11 -Wall -Wextra -Wno-unused-parameter -Wno-address
          -fno-builtin -ffreestanding -I${CMAKE_SOURCE_DIR} -I/usr/share/mingw-w64/include/ddk
          -shared -nostdlib -Wl,--subsystem,native -Wl,--entry,${driver_entry}
          -o ${driver_file} ${driver_sources} -lntoskrnl -lhal
  DEPENDS ${driver_sources} ${CMAKE_SOURCE_DIR}/driver/kernel/driver_core.h ${CMAKE_SOURCE_DIR}/driver/driver_protocol.h
  COMMENT "Building the kernel driver NtDriver.sys"
  VERBATIM)
add_custom_target(kernel_driver DEPENDS ${driver_file})

# Resources are linked into the program and into every Windows test, so that the
# tests create the same dialogs from the same templates.
add_library(korvane_res OBJECT ${CMAKE_SOURCE_DIR}/resources/korvane.rc)
target_include_directories(korvane_res PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources ${CMAKE_BINARY_DIR})
add_dependencies(korvane_res kernel_driver)
set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/korvane.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_SOURCE_DIR}/resources/resource.h")
file(GLOB icons CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.ico ${CMAKE_SOURCE_DIR}/resources/*.manifest)
set_property(SOURCE ${CMAKE_SOURCE_DIR}/resources/korvane.rc APPEND PROPERTY OBJECT_DEPENDS ${icons} ${driver_file})

add_executable(korvane WIN32 ${CMAKE_SOURCE_DIR}/app/win/program_main.cpp $<TARGET_OBJECTS:korvane_res>)
target_link_libraries(korvane PRIVATE korvane_win)

# GoogleTest, built from the Debian sources for this target.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)

file(GLOB_RECURSE win_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/win/*_test.cpp)
korvane_test_programs(wintest ${win_tests})
foreach(name ${wintest_names})
  add_executable(${name} ${wintest_${name}} $<TARGET_OBJECTS:korvane_res>)
  target_link_libraries(${name} PRIVATE korvane_win gtest gtest_main)
  add_test(NAME win.${name} COMMAND ${name})
  # Every Windows test shares the build tree's Wine prefix and display, and some
  # change the prefix's registry for a moment: they run one at a time.
  set_tests_properties(win.${name} PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE)
endforeach()

# Helper programs that Windows tests start as child processes.
file(GLOB_RECURSE win_helpers CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*/win/*_helper.cpp)
foreach(src ${win_helpers})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src})
  target_link_libraries(${name} PRIVATE korvane_win)
endforeach()

# Whole-program timings under Wine, run by hand (docs/PERFORMANCE.md); not tests.
file(GLOB win_benches CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/bench/win/*_bench.cpp)
foreach(src ${win_benches})
  get_filename_component(name ${src} NAME_WE)
  add_executable(${name} ${src} $<TARGET_OBJECTS:korvane_res>)
  target_link_libraries(${name} PRIVATE korvane_win)
endforeach()
