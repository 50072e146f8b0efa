file(REMOVE_RECURSE
  "CMakeFiles/korvane_core.dir/inspect/hash_table.cpp.o"
  "CMakeFiles/korvane_core.dir/inspect/hash_table.cpp.o.d"
  "libkorvane_core.a"
  "libkorvane_core.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/korvane_core.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
