# pugixml is the baseline of the XML load/save benchmark only; nothing else links it.
if(TARGET bench_xml_load_save)
    find_package(pugixml REQUIRED)
    target_link_libraries(bench_xml_load_save PRIVATE pugixml::pugixml)
endif()
# The command-line benchmark times `kestrel` against the write floor (write-floor.c, the yardstick
# of the import: read the input once, write files of the same names and sizes) as processes.
add_executable(bench_write_floor write-floor.c)
if(TARGET bench_cli_import_compile)
    add_dependencies(bench_cli_import_compile kestrel bench_write_floor)
    target_compile_definitions(bench_cli_import_compile PRIVATE
        KESTREL_CLI="$<TARGET_FILE:kestrel>" KESTREL_WRITE_FLOOR="$<TARGET_FILE:bench_write_floor>")
endif()
# The start-up benchmark times `kestrel --version` against print-line.c, a program that prints one
# line and nothing else.
add_executable(bench_print_line print-line.c)
if(TARGET bench_cli_startup)
    add_dependencies(bench_cli_startup kestrel bench_print_line)
    target_compile_definitions(bench_cli_startup PRIVATE
        KESTREL_CLI="$<TARGET_FILE:kestrel>" KESTREL_PRINT_LINE="$<TARGET_FILE:bench_print_line>")
endif()
