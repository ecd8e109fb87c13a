# Manual pages made from a program's --help and --version by help2man at build
# time, installed gzipped into section 1. Without help2man the build goes on
# without them and says so once.
include(GNUInstallDirs)
find_program(FW_HELP2MAN help2man)
find_program(FW_GZIP gzip)
if(NOT FW_HELP2MAN OR NOT FW_GZIP)
  message(STATUS "help2man or gzip not found: the manual pages are not built (scripts/install-deps installs them)")
endif()

# fw_add_man_page(TARGET "one line saying what it is" [SUBCOMMANDS])
# SUBCOMMANDS: a COMMANDS section holds the --help of every subcommand that
# TARGET --help lists.
function(fw_add_man_page target description)
  if(NOT FW_HELP2MAN OR NOT FW_GZIP)
    return()
  endif()
  cmake_parse_arguments(PARSE_ARGV 2 arg "SUBCOMMANDS" "" "")
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  set(include_commands)
  set(include_option)
  if(arg_SUBCOMMANDS)
    set(include_file ${CMAKE_CURRENT_BINARY_DIR}/${target}.commands.h2m)
    set(include_commands COMMAND ${PROJECT_SOURCE_DIR}/cmake/subcommand-help $<TARGET_FILE:${target}> ${include_file})
    set(include_option --include=${include_file})
  endif()
  # offscreen: the window program answers --help without a display anyway;
  # this keeps Qt from looking for one on any path.
  add_custom_command(OUTPUT ${page}.gz
    ${include_commands}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen
            ${FW_HELP2MAN} --no-info --section=1 --name=${description} ${include_option} --output=${page}
            $<TARGET_FILE:${target}>
    COMMAND ${FW_GZIP} -9nf ${page}
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/cmake/subcommand-help
    COMMENT "Writing the manual page ${target}.1.gz" VERBATIM)
  add_custom_target(${target}_man ALL DEPENDS ${page}.gz)
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
