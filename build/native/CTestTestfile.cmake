# CMake generated Testfile for 
# Source directory: /work/main
# Build directory: /work/main/build/native
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
add_test([=[native.hash_table_test]=] "/work/main/build/native/hash_table_test")
set_tests_properties([=[native.hash_table_test]=] PROPERTIES  _BACKTRACE_TRIPLES "/work/main/cmake/native.cmake;13;add_test;/work/main/cmake/native.cmake;0;;/work/main/CMakeLists.txt;49;include;/work/main/CMakeLists.txt;0;")
