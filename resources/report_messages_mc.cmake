# Writes the message table source (windmc's .mc) of the module from the catalogue of the
# pass's messages, resources/report_messages.inc, so that the texts exist once.
#
#   cmake -D INPUT=resources/report_messages.inc -D OUTPUT=report_messages.mc -P report_messages_mc.cmake
#
# Each message becomes one entry with the catalogue's number as MessageId and the text on one
# line, ending in %0: without it, FormatMessage would end the text with the line break that
# closes the line in the .mc file, and the event's text would differ from the box's by it.
# The insertion points %1 to %9 mean in the .mc what they mean in the catalogue. A text with
# any other "%" (FormatMessage would read %n, %., %! and the like as escapes), an insertion
# point followed by a digit or "!" (read as %12 or %1!s!), a backslash or a double quote is
# refused, as is a line that looks like an entry but is not one.
cmake_minimum_required(VERSION 3.25)
if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "report_messages_mc.cmake: INPUT and OUTPUT are required")
endif()
file(STRINGS "${INPUT}" lines)
string(CONCAT mc "; The module's message table, written from report_messages.inc: do not edit.\n"
                 "MessageIdTypedef=DWORD\n"
                 "LanguageNames=(English=0x409:MSG00409)\n")
set(count 0)
set(numbers)
foreach(line IN LISTS lines)
  if(NOT line MATCHES "^QZ_REPORT_MESSAGE")
    continue()
  endif()
  if(NOT line MATCHES "^QZ_REPORT_MESSAGE\\(([0-9]+), ([A-Za-z0-9]+), \"([^\"\\\\]*)\"\\)$")
    message(FATAL_ERROR "${INPUT}: not one entry on one line: ${line}")
  endif()
  set(number ${CMAKE_MATCH_1})
  set(name ${CMAKE_MATCH_2})
  set(text "${CMAKE_MATCH_3}")
  if(number IN_LIST numbers)
    message(FATAL_ERROR "${INPUT}: the number ${number} is given twice (${name})")
  endif()
  list(APPEND numbers ${number})
  # FormatMessage reads a digit or "!" right after an insertion point as part of it.
  if(text MATCHES "%[1-9][0-9!]")
    message(FATAL_ERROR "${INPUT}: ${name}: an insertion point followed by a digit or \"!\"")
  endif()
  string(REGEX REPLACE "%[1-9]" "" plain "${text}")
  if(plain MATCHES "%")
    message(FATAL_ERROR "${INPUT}: ${name}: a \"%\" other than the insertion points %1 to %9")
  endif()
  if(text STREQUAL "" OR text STREQUAL ".")
    message(FATAL_ERROR "${INPUT}: ${name}: an empty text")
  endif()
  string(APPEND mc "\nMessageId=${number}\nSymbolicName=QZ_MSG_${name}\nLanguage=English\n${text}%0\n.\n")
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${INPUT}: no messages")
endif()
# Rewritten only when it changes.
file(WRITE "${OUTPUT}.new" "${mc}")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.new" "${OUTPUT}")
file(REMOVE "${OUTPUT}.new")
