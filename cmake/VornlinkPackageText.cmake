# Writes the package's text files: README-operator.txt (the README's sections
# an operator needs, "Operating a site" first, its links to sections named by
# their headings and its pictures in plain text) and the sample
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

# readme_section(TITLE OUT): the README's section "## TITLE", up to the next section of its level.
function(readme_section title out)
  string(FIND "${readme}" "\n## ${title}\n" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "README.md has no section \"## ${title}\"")
  endif()
  math(EXPR start "${start} + 1")
  string(SUBSTRING "${readme}" ${start} -1 section)
  string(FIND "${section}" "\n## " end)
  if(NOT end EQUAL -1)
    string(SUBSTRING "${section}" 0 ${end} section)
  endif()
  set(${out} "${section}" PARENT_SCOPE)
endfunction()

# heading_anchor(HEADING OUT): the anchor a Markdown viewer gives a heading.
function(heading_anchor heading out)
  string(TOLOWER "${heading}" anchor)
  string(REGEX REPLACE "[^a-z0-9 _-]" "" anchor "${anchor}")
  string(REPLACE " " "-" anchor "${anchor}")
  set(${out} "${anchor}" PARENT_SCOPE)
endfunction()

# What an operator needs at a site: how to run it, how it delivers, its log, its transports and the
# emulated DMS to try it against.
set(section "")
foreach(title "Operating a site" "Delivery" "The log" "Transports: time limit, trust, limits"
              "The emulated DMS without a dialog")
  readme_section("${title}" part)
  string(APPEND section "${part}\n")
endforeach()
string(STRIP "${section}" section)

# A link to a section reads as its heading in plain text; one to a section the package does not
# ship is a fault of the README, found here rather than by an operator.
string(REGEX MATCHALL "\n#+ [^\n]+" headings "\n${section}")
# (The links are matched without their bracket: CMake's lists do not split inside brackets.)
string(REGEX MATCHALL "\\(#[a-z0-9_-]+\\)" links "${section}")
list(REMOVE_DUPLICATES links)
foreach(link IN LISTS links)
  string(REGEX REPLACE "^\\(#(.*)\\)$" "\\1" wanted "${link}")
  set(found "")
  foreach(heading IN LISTS headings)
    string(REGEX REPLACE "^\n#+ " "" heading "${heading}")
    heading_anchor("${heading}" anchor)
    if(anchor STREQUAL wanted)
      set(found "${heading}")
    endif()
  endforeach()
  if(found STREQUAL "")
    message(FATAL_ERROR "README-operator.txt: the link (#${wanted}) names a section it does not ship")
  endif()
  string(REPLACE "[${found}](#${wanted})" "the section \"${found}\"" section "${section}")
  string(REPLACE "`" "" found "${found}")
  string(REPLACE "](#${wanted})" "] (section \"${found}\")" section "${section}")
endforeach()
string(REGEX REPLACE "\\[([^]\n]*)\\] \\(section" "\\1 (section" section "${section}")
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
