# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build/native
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[native.command_line_test]=] "/work/main/build/native/command_line_test")
set_tests_properties([=[native.command_line_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
add_test([=[native.file_info_test]=] "/work/main/build/native/file_info_test")
set_tests_properties([=[native.file_info_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
add_test([=[native.hash_table_test]=] "/work/main/build/native/hash_table_test")
set_tests_properties([=[native.hash_table_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
add_test([=[native.os_description_test]=] "/work/main/build/native/os_description_test")
set_tests_properties([=[native.os_description_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
add_test([=[native.os_family_test]=] "/work/main/build/native/os_family_test")
set_tests_properties([=[native.os_family_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
add_test([=[native.perf_data_test]=] "/work/main/build/native/perf_data_test")
set_tests_properties([=[native.perf_data_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
add_test([=[native.processes_names_test]=] "/work/main/build/native/processes_names_test")
set_tests_properties([=[native.processes_names_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
add_test([=[native.report_line_test]=] "/work/main/build/native/report_line_test")
set_tests_properties([=[native.report_line_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
