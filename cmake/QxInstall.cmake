# Install layout. Every program and companion file goes into the program's folder
# PREFIX/lib/qxmoviedisc/ (the programs find each other there from their own real path);
# PREFIX/bin/ holds relative links to the programs a user starts, so a staged or relocated tree works.
#
#   qx_install_program(TARGET [USER_COMMAND] [MANUAL page.N])
#       the program (or a run-time loaded library) into the program's folder; USER_COMMAND adds
#       the link in PREFIX/bin; MANUAL installs the manual page (source beside the caller).
#   qx_install_companions([SUBFOLDER dir] FILES...)
#       files (absolute, or relative to the caller's folder) into the program's folder.
#   qx_install_manual(page.N)
#       a manual page, compressed, into PREFIX/share/man/manN/.
include(GNUInstallDirs)
set(QX_PROGRAM_DIR lib/qxmoviedisc)

function(qx_install_program target)
  cmake_parse_arguments(ARG "USER_COMMAND" "MANUAL" "" ${ARGN})
  install(TARGETS ${target} RUNTIME DESTINATION ${QX_PROGRAM_DIR} LIBRARY DESTINATION ${QX_PROGRAM_DIR})
  if(ARG_USER_COMMAND)
    set(link ${CMAKE_BINARY_DIR}/install-links/${target})
    file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/install-links)
    file(RELATIVE_PATH target_path /${CMAKE_INSTALL_BINDIR} /${QX_PROGRAM_DIR}/${target})
    file(CREATE_LINK ${target_path} ${link} SYMBOLIC)
    # A link is installed as a link, not as a copy of what it points to.
    install(FILES ${link} DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  if(ARG_MANUAL)
    qx_install_manual(${ARG_MANUAL})
  endif()
endfunction()

function(qx_install_companions)
  cmake_parse_arguments(PARSE_ARGV 0 ARG "" "SUBFOLDER" "") # keeps an empty SUBFOLDER value
  set(dest ${QX_PROGRAM_DIR})
  if(ARG_SUBFOLDER)
    set(dest ${dest}/${ARG_SUBFOLDER})
  endif()
  install(FILES ${ARG_UNPARSED_ARGUMENTS} DESTINATION ${dest})
endfunction()

function(qx_install_manual page)
  get_filename_component(source ${page} ABSOLUTE)
  get_filename_component(name ${page} NAME)
  string(REGEX REPLACE "^.*\\.([0-9])$" "\\1" section ${name})
  set(out ${CMAKE_BINARY_DIR}/man/${name}.gz)
  # -n keeps the name and time stamp out, so the compressed page is the same on every build.
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${source} > ${out}
    DEPENDS ${source}
    COMMENT "Compressing manual page ${name}" VERBATIM)
  string(MAKE_C_IDENTIFIER "qx_manual_${name}" manual_target)
  add_custom_target(${manual_target} ALL DEPENDS ${out})
  install(FILES ${out} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endfunction()
