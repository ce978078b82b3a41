# cmake -DIN=<UTF-8 source> -DOUT=<copy> -P cp932_source.cmake
#
# Copies a source file converted to CP932, for sources that need CP932
# string literals (clang has no CP932 execution charset, but keeps the
# bytes of a literal that is not UTF-8, with a warning). Fails when the
# text cannot be converted, or when a character's second byte is a
# backslash (0x5C), which would escape the next character of a literal or
# continue a comment onto the next line.
get_filename_component(dir "${OUT}" DIRECTORY)
file(MAKE_DIRECTORY "${dir}")
execute_process(COMMAND iconv -f UTF-8 -t CP932 "${IN}"
                OUTPUT_FILE "${OUT}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "cannot convert ${IN} to CP932")
endif()

function(count_backslashes file var)
  file(READ "${file}" text)
  string(LENGTH "${text}" whole)
  string(REPLACE "\\" "" text "${text}")
  string(LENGTH "${text}" without)
  math(EXPR count "${whole} - ${without}")
  set(${var} ${count} PARENT_SCOPE)
endfunction()
count_backslashes("${IN}" before)
count_backslashes("${OUT}" after)
if(NOT before EQUAL after)
  file(REMOVE "${OUT}")
  message(FATAL_ERROR "${IN} holds a character whose CP932 form ends in 0x5C")
endif()
