# SPDX-License-Identifier: GPL-3.0-or-later
# Run by CPack on the staged install tree before it is packed: strips the
# programs as Debian's own packages are stripped (no symbols, no .comment or
# .note sections), so the package carries no compiler notes and no debug data.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*")
foreach(program IN LISTS programs)
  execute_process(COMMAND strip --remove-section=.comment --remove-section=.note ${program}
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "strip failed on ${program}")
  endif()
endforeach()
