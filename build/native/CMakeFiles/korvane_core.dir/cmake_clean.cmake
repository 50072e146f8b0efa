file(REMOVE_RECURSE
  "CMakeFiles/korvane_core.dir/autorun/command_line.cpp.o"
  "CMakeFiles/korvane_core.dir/autorun/command_line.cpp.o.d"
  "CMakeFiles/korvane_core.dir/inspect/file_info.cpp.o"
  "CMakeFiles/korvane_core.dir/inspect/file_info.cpp.o.d"
  "CMakeFiles/korvane_core.dir/inspect/hash_table.cpp.o"
  "CMakeFiles/korvane_core.dir/inspect/hash_table.cpp.o.d"
  "CMakeFiles/korvane_core.dir/inspect/os_description.cpp.o"
  "CMakeFiles/korvane_core.dir/inspect/os_description.cpp.o.d"
  "CMakeFiles/korvane_core.dir/inspect/os_family.cpp.o"
  "CMakeFiles/korvane_core.dir/inspect/os_family.cpp.o.d"
  "CMakeFiles/korvane_core.dir/inspect/perf_data.cpp.o"
  "CMakeFiles/korvane_core.dir/inspect/perf_data.cpp.o.d"
  "CMakeFiles/korvane_core.dir/inspect/processes_names.cpp.o"
  "CMakeFiles/korvane_core.dir/inspect/processes_names.cpp.o.d"
  "CMakeFiles/korvane_core.dir/report/report_line.cpp.o"
  "CMakeFiles/korvane_core.dir/report/report_line.cpp.o.d"
  "libkorvane_core.a"
  "libkorvane_core.pdb"
)

# Per-language clean rules from dependency scanning.
foreach(lang CXX)
  include(CMakeFiles/korvane_core.dir/cmake_clean_${lang}.cmake OPTIONAL)
endforeach()
