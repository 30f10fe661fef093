# Windows resources of the programs: a version record carrying the project's one version
# (project() in the top CMakeLists.txt), and for the front end its icon, made at build time from
# an SVG drawing with rsvg-convert (librsvg2-bin) and icotool (icoutils).
#   cabrix_windows_resources(<target> <file name without .exe> <description> [ICON <svg>])
set(CABRIX_RC_TEMPLATE ${CMAKE_CURRENT_LIST_DIR}/version.rc.in)

# The version in four numbers, as Windows version records have it.
set(CABRIX_VERSION4 ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
foreach(part PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    string(APPEND CABRIX_VERSION4 ".0")
  else()
    string(APPEND CABRIX_VERSION4 ".${PROJECT_VERSION_${part}}")
  endif()
endforeach()

function(cabrix_windows_resources target name description)
  cmake_parse_arguments(ARG "" "ICON" "" ${ARGN})
  set(CABRIX_RC_NAME ${name})
  set(CABRIX_RC_DESCRIPTION ${description})
  string(REPLACE "." "," CABRIX_RC_VERSION_COMMAS ${CABRIX_VERSION4})
  set(CABRIX_RC_ICON "")
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.rc)

  if(ARG_ICON)
    find_program(CABRIX_RSVG_CONVERT rsvg-convert REQUIRED)
    find_program(CABRIX_ICOTOOL icotool REQUIRED)
    set(ico ${CMAKE_CURRENT_BINARY_DIR}/${name}.ico)
    set(pngs "")
    foreach(size 16 24 32 48 64 256)
      set(png ${CMAKE_CURRENT_BINARY_DIR}/${name}_${size}.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CABRIX_RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${ARG_ICON}
        DEPENDS ${ARG_ICON} VERBATIM)
      list(APPEND pngs ${png})
    endforeach()
    # The 256-pixel picture is stored as PNG inside the icon, the smaller ones as bitmaps.
    list(POP_BACK pngs big)
    add_custom_command(OUTPUT ${ico}
      COMMAND ${CABRIX_ICOTOOL} -c -o ${ico} ${pngs} -r ${big}
      DEPENDS ${pngs} ${big}
      COMMENT "Making ${name}.ico from its drawing" VERBATIM)
    # Qt's Windows platform gives every window of the program the icon of this name.
    set(CABRIX_RC_ICON "IDI_ICON1 ICON \"${ico}\"")
    configure_file(${CABRIX_RC_TEMPLATE} ${rc} @ONLY)
    set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${ico})
    target_sources(${target} PRIVATE ${rc} ${ico})
  else()
    configure_file(${CABRIX_RC_TEMPLATE} ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
  endif()
endfunction()
