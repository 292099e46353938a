# Gathers the first argument of every GetLanguageText and GetLanguageTextOr call in the
# program's sources into a C++ table for the language tests.
#   cmake -DROOT=<source folder> -DOUT=<file.inc> -P ScanLanguageKeys.cmake
# Each row is {file, argument, literal, english}: a literal key is given as its text
# (L"Key" -> Key), any other argument as it is written (for example kScheduleDays[i]); english
# is true for GetLanguageTextOr, which carries the built-in English text. The lookup functions'
# own files are left out: they pass keys on, they ask for none.
if(NOT ROOT OR NOT OUT)
  message(FATAL_ERROR "ScanLanguageKeys: ROOT and OUT are required")
endif()

set(rows "")
set(count 0)
foreach(area app controls core framework launcher settings)
  file(GLOB_RECURSE files ${ROOT}/${area}/*.cpp ${ROOT}/${area}/*.h)
  list(SORT files)
  foreach(path ${files})
    get_filename_component(name ${path} NAME_WE)
    if(name STREQUAL "LanguageText")
      continue()
    endif()
    file(READ ${path} text)
    # Semicolons would split the matches; no key or argument holds one.
    string(REPLACE ";" " " text "${text}")
    string(REGEX MATCHALL "GetLanguageText(Or)?\\([ \t\r\n]*[^,)]*" calls "${text}")
    file(RELATIVE_PATH rel ${ROOT} ${path})
    foreach(call ${calls})
      if(call MATCHES "^GetLanguageTextOr")
        set(english true)
      else()
        set(english false)
      endif()
      string(REGEX REPLACE "^GetLanguageText(Or)?\\([ \t\r\n]*" "" arg "${call}")
      string(STRIP "${arg}" arg)
      if(arg MATCHES "^L\"([A-Za-z0-9_]*)\"$")
        set(arg "${CMAKE_MATCH_1}")
        set(literal true)
      else()
        string(REPLACE "\\" "\\\\" arg "${arg}")
        string(REPLACE "\"" "\\\"" arg "${arg}")
        string(REGEX REPLACE "[\r\n\t ]+" " " arg "${arg}")
        set(literal false)
      endif()
      string(APPEND rows "    {L\"${rel}\", L\"${arg}\", ${literal}, ${english}},\n")
      math(EXPR count "${count} + 1")
    endforeach()
  endforeach()
endforeach()

file(WRITE ${OUT}.tmp "// Made by cmake/ScanLanguageKeys.cmake at build time; ${count} calls.\n${rows}")
# Rewritten only when a row changed, so that the test is not rebuilt for every source edit.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUT}.tmp ${OUT})
file(REMOVE ${OUT}.tmp)
