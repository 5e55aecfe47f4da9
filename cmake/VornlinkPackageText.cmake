# Writes the package's text files: README-operator.txt (the README's section
# "Operating a site", up to the next section of its level, its pictures
# named in plain text) and the sample
# settings, with CR LF line ends when CRLF is true.
#   cmake -DSOURCE_DIR=... -DOUTPUT_DIR=... -DCRLF=0|1 -P VornlinkPackageText.cmake

function(write_text source destination)
  file(READ ${source} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  if(CRLF)
    string(REPLACE "\n" "\r\n" text "${text}")
  endif()
  file(WRITE ${destination} "${text}")
endfunction()

file(READ ${SOURCE_DIR}/README.md readme)
string(FIND "${readme}" "\n## Operating a site\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "README.md has no section \"## Operating a site\"")
endif()
math(EXPR start "${start} + 1")
string(SUBSTRING "${readme}" ${start} -1 section)
string(FIND "${section}" "\n## " end)
if(NOT end EQUAL -1)
  string(SUBSTRING "${section}" 0 ${end} section)
endif()
# A picture is named in words, with its path in the package.
string(REGEX REPLACE "!\\[([^]]*)\\]\\(([^)]*)\\)" "Picture \"\\1\": \\2" section "${section}")
if(CRLF)
  string(REGEX REPLACE "(Picture \"[^\"]*\": [^/\n]*)/" "\\1\\\\" section "${section}")
endif()
file(WRITE ${OUTPUT_DIR}/README-operator.md.tmp "${section}\n")
write_text(${OUTPUT_DIR}/README-operator.md.tmp ${OUTPUT_DIR}/README-operator.txt)
file(REMOVE ${OUTPUT_DIR}/README-operator.md.tmp)

foreach(file tcp/Vornlink.xml tcp/Vornlink.ini soap-https/Vornlink.xml soap-https/Vornlink.ini
             transactions.csv)
  get_filename_component(folder ${OUTPUT_DIR}/examples/${file} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  write_text(${SOURCE_DIR}/examples/${file} ${OUTPUT_DIR}/examples/${file})
endforeach()
