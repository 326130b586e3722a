# zv_add_installer(TARGET name EXE exe_target OUTPUT file [VERSION v])
# Builds an NSIS installer of the given Zentrovia.exe with resources/Zentrovia.nsi.
find_program(ZV_MAKENSIS makensis)
function(zv_add_installer)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;EXE;OUTPUT;VERSION" "")
  if(NOT arg_VERSION)
    set(arg_VERSION ${PROJECT_VERSION})
  endif()
  set(res ${PROJECT_SOURCE_DIR}/resources)
  add_custom_command(OUTPUT ${arg_OUTPUT}
    COMMAND ${ZV_MAKENSIS} -V2 -DVERSION=${arg_VERSION} -DEXE=$<TARGET_FILE:${arg_EXE}>
            -DICON=${res}/icons/zentrovia.ico -DOUTFILE=${arg_OUTPUT}
            -DLGPL=${ZV_FFMPEG_MINGW}/COPYING.LGPLv2.1 ${res}/Zentrovia.nsi
    DEPENDS ${arg_EXE} ${res}/Zentrovia.nsi ${res}/icons/zentrovia.ico VERBATIM)
  add_custom_target(${arg_TARGET} ALL DEPENDS ${arg_OUTPUT})
endfunction()
