# qel_com_server(NAME IDL file DEF file RC template SOURCES ... LIBRARIES ...)
# An in-process automation server DLL: widl makes the interface header, the
# GUID definitions and the type library, which windres embeds as TYPELIB 1;
# com_registration.py makes NAMERegistration.h, the rows that register it.
function(qel_com_server name)
    cmake_parse_arguments(ARG "" "IDL;DEF;RC" "SOURCES;LIBRARIES" ${ARGN})
    get_filename_component(base ${ARG_IDL} NAME_WE)
    get_filename_component(idl ${ARG_IDL} ABSOLUTE)
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/generated)
    if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        set(widl_target --win64)
        set(wine_windows_dir /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
    else()
        set(widl_target --win32)
        set(wine_windows_dir /usr/lib/i386-linux-gnu/wine/i386-windows)
    endif()
    add_custom_command(
        OUTPUT ${generated}/${base}.h ${generated}/${base}_i.c ${generated}/${base}.tlb
        COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
        COMMAND ${QEL_WIDL} ${widl_target} -I/usr/include/wine/wine/windows -L${wine_windows_dir}
                -h -H ${generated}/${base}.h -u -U ${generated}/${base}_i.c -t -T ${generated}/${base}.tlb ${idl}
        DEPENDS ${idl}
        VERBATIM)
    add_custom_command(
        OUTPUT ${generated}/${base}Registration.h
        COMMAND ${CMAKE_COMMAND} -E make_directory ${generated}
        COMMAND ${QEL_PYTHON} ${PROJECT_SOURCE_DIR}/cmake/com_registration.py header ${base} ${QEL_WINE_BITS}
                ${generated}/${base}Registration.h
        DEPENDS ${idl} ${PROJECT_SOURCE_DIR}/cmake/ComClasses.txt ${PROJECT_SOURCE_DIR}/cmake/com_registration.py
        VERBATIM)
    set(QEL_TLB ${generated}/${base}.tlb)
    configure_file(${ARG_RC} ${generated}/${base}.rc @ONLY)
    set_source_files_properties(${generated}/${base}.rc PROPERTIES OBJECT_DEPENDS ${generated}/${base}.tlb)

    add_library(${name} SHARED ${ARG_SOURCES} ${generated}/${base}_i.c ${generated}/${base}.rc ${ARG_DEF}
                ${generated}/${base}Registration.h)
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
    target_include_directories(${name} PRIVATE ${generated} ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} qel_automation oleaut32 ole32 uuid version)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_link_options(${name} PRIVATE -Wl,--enable-stdcall-fixup)
    endif()
    # The interface header, for tests that call through the vtable.
    add_library(${name}_interface INTERFACE)
    target_include_directories(${name}_interface INTERFACE ${generated})
    target_sources(${name}_interface INTERFACE ${generated}/${base}_i.c)
endfunction()
