
# Consider dependencies only in project.
set(CMAKE_DEPENDS_IN_PROJECT_ONLY OFF)

# The set of languages for which implicit dependencies are needed:
set(CMAKE_DEPENDS_LANGUAGES
  )

# The set of dependency files which are needed:
set(CMAKE_DEPENDS_DEPENDENCY_FILES
  "/work/main/autorun/command_line.cpp" "CMakeFiles/korvane_core.dir/autorun/command_line.cpp.o" "gcc" "CMakeFiles/korvane_core.dir/autorun/command_line.cpp.o.d"
  "/work/main/inspect/file_info.cpp" "CMakeFiles/korvane_core.dir/inspect/file_info.cpp.o" "gcc" "CMakeFiles/korvane_core.dir/inspect/file_info.cpp.o.d"
  "/work/main/inspect/hash_table.cpp" "CMakeFiles/korvane_core.dir/inspect/hash_table.cpp.o" "gcc" "CMakeFiles/korvane_core.dir/inspect/hash_table.cpp.o.d"
  "/work/main/inspect/os_description.cpp" "CMakeFiles/korvane_core.dir/inspect/os_description.cpp.o" "gcc" "CMakeFiles/korvane_core.dir/inspect/os_description.cpp.o.d"
  "/work/main/inspect/os_family.cpp" "CMakeFiles/korvane_core.dir/inspect/os_family.cpp.o" "gcc" "CMakeFiles/korvane_core.dir/inspect/os_family.cpp.o.d"
  "/work/main/inspect/perf_data.cpp" "CMakeFiles/korvane_core.dir/inspect/perf_data.cpp.o" "gcc" "CMakeFiles/korvane_core.dir/inspect/perf_data.cpp.o.d"
  "/work/main/inspect/processes_names.cpp" "CMakeFiles/korvane_core.dir/inspect/processes_names.cpp.o" "gcc" "CMakeFiles/korvane_core.dir/inspect/processes_names.cpp.o.d"
  "/work/main/report/report_line.cpp" "CMakeFiles/korvane_core.dir/report/report_line.cpp.o" "gcc" "CMakeFiles/korvane_core.dir/report/report_line.cpp.o.d"
  )

# Targets to which this target links.
set(CMAKE_TARGET_LINKED_INFO_FILES
  )

# Fortran module output directory.
set(CMAKE_Fortran_TARGET_MODULE_DIR "")
