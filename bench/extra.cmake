# pugixml is the baseline of the XML load/save benchmark only; nothing else links it.
if(TARGET bench_xml_load_save)
    find_package(pugixml REQUIRED)
    target_link_libraries(bench_xml_load_save PRIVATE pugixml::pugixml)
endif()
