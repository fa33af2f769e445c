# The Windows programs' resources: an icon made at build time from the menu
# icon's SVG, and the version every program's resource file shows.
enable_language(RC)
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
find_program(ICOTOOL icotool REQUIRED)

set(resources_dir ${CMAKE_BINARY_DIR}/resources)
set(PROGRAM_ICON ${resources_dir}/serial-logger.ico)
set(icon_svg ${PROJECT_SOURCE_DIR}/packaging/linux/serial-logger.svg)
set(icon_pngs)
foreach(size 16 24 32 48 64 256)
  set(png ${resources_dir}/icon-${size}.png)
  add_custom_command(OUTPUT ${png} COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${icon_svg}
                     DEPENDS ${icon_svg} VERBATIM)
  list(APPEND icon_pngs ${png})
endforeach()
# The largest size stays PNG inside the icon, as Windows expects at 256 pixels.
list(POP_BACK icon_pngs large_png)
add_custom_command(OUTPUT ${PROGRAM_ICON} COMMAND ${ICOTOOL} -c -o ${PROGRAM_ICON} ${icon_pngs} --raw=${large_png}
                   DEPENDS ${icon_pngs} ${large_png} VERBATIM)
add_custom_target(program_icon DEPENDS ${PROGRAM_ICON})

set(version_header ${resources_dir}/program_version.h)
file(CONFIGURE OUTPUT ${version_header} CONTENT
"#define LOGGER_VERSION_NUMBERS @PROJECT_VERSION_MAJOR@,@PROJECT_VERSION_MINOR@,@PROJECT_VERSION_PATCH@,0
#define LOGGER_VERSION_TEXT \"@PROJECT_VERSION@\"
")

# Adds a program's resource file (which includes program_resources.rc) to it.
function(add_program_resources target rc_file)
  target_sources(${target} PRIVATE ${rc_file})
  target_include_directories(${target} PRIVATE ${resources_dir} ${PROJECT_SOURCE_DIR}/packaging/windows)
  set_property(SOURCE ${rc_file} APPEND PROPERTY OBJECT_DEPENDS
               ${PROGRAM_ICON} ${version_header} ${PROJECT_SOURCE_DIR}/packaging/windows/program_resources.rc)
  add_dependencies(${target} program_icon)
endfunction()
