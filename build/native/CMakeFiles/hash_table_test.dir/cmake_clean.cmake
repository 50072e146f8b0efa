file(REMOVE_RECURSE
  "CMakeFiles/hash_table_test.dir/tests/inspect/hash_table_test.cpp.o"
  "CMakeFiles/hash_table_test.dir/tests/inspect/hash_table_test.cpp.o.d"
  "hash_table_test"
  "hash_table_test.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/hash_table_test.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
