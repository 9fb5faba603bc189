# The Windows programs' resources: the icon, made here from the Linux package's SVG icon with
# Debian's rsvg-convert and icotool, and for each program its version resource and its
# application manifest.

find_program(ORV_RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ORV_ICOTOOL icotool REQUIRED)
find_program(ORV_WINDRES NAMES ${CMAKE_RC_COMPILER} x86_64-w64-mingw32-windres REQUIRED)

# One .ico for every program: the sizes Windows asks for at 100 % to 200 % and for large icons,
# 256 stored as PNG.
set(ORV_WIN32_ICON ${CMAKE_CURRENT_BINARY_DIR}/orv-os-update.ico CACHE INTERNAL "")
set(svg ${CMAKE_SOURCE_DIR}/packaging/orv-os-update.svg)
set(icon_commands)
set(icon_pngs)
foreach(size 16 20 24 32 40 48 64 256)
    set(png ${CMAKE_CURRENT_BINARY_DIR}/icon/${size}.png)
    list(APPEND icon_commands COMMAND ${ORV_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${svg})
    if(size EQUAL 256)
        list(APPEND icon_pngs -r ${png})
    else()
        list(APPEND icon_pngs ${png})
    endif()
endforeach()
add_custom_command(OUTPUT ${ORV_WIN32_ICON}
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/icon
                   ${icon_commands}
                   COMMAND ${ORV_ICOTOOL} -c -o ${ORV_WIN32_ICON} ${icon_pngs}
                   DEPENDS ${svg} VERBATIM)
add_custom_target(orv_win32_icon DEPENDS ${ORV_WIN32_ICON})

# orv_win32_resources(TARGET DESCRIPTION text)
# Gives the program TARGET the icon (IDI_ORV_APPLICATION in win32/resource_ids.h), a version
# resource (product "Orv OS update", the project's version, `text` as the file's description)
# and the application manifest: common controls version 6, per-monitor DPI awareness, UTF-8 as
# the code page of narrow text, and the Windows versions it supports.
function(orv_win32_resources target)
    cmake_parse_arguments(R "" "DESCRIPTION" "" ${ARGN})
    if(NOT R_DESCRIPTION)
        message(FATAL_ERROR "orv_win32_resources(${target}): DESCRIPTION is missing")
    endif()
    set(ORV_RC_NAME ${target})
    set(ORV_RC_DESCRIPTION ${R_DESCRIPTION})
    foreach(part MAJOR MINOR PATCH TWEAK)
        set(${part} ${PROJECT_VERSION_${part}})
        if(NOT ${part})
            set(${part} 0)
        endif()
    endforeach()
    set(ORV_RC_VERSION4 ${MAJOR}.${MINOR}.${PATCH}.${TWEAK})
    set(ORV_RC_VERSION_COMMAS ${MAJOR},${MINOR},${PATCH},${TWEAK})

    set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
    set(ORV_RC_MANIFEST ${dir}/${target}.manifest)
    set(resources ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/resources)
    configure_file(${resources}/orv-os-update.manifest.in ${ORV_RC_MANIFEST} @ONLY)
    configure_file(${resources}/resources.rc.in ${dir}/${target}.rc @ONLY)
    # Compiled here rather than as a source of the RC language, so that none of the C++
    # compiler's options reach windres.
    add_custom_command(OUTPUT ${dir}/${target}.res.o
                       COMMAND ${ORV_WINDRES} -O coff -I ${CMAKE_SOURCE_DIR}/src
                               ${dir}/${target}.rc ${dir}/${target}.res.o
                       DEPENDS ${dir}/${target}.rc ${ORV_RC_MANIFEST} ${ORV_WIN32_ICON}
                               ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/resource_ids.h
                       VERBATIM)
    target_sources(${target} PRIVATE ${dir}/${target}.res.o)
    add_dependencies(${target} orv_win32_icon)
endfunction()
