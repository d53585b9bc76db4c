# Makes one manual page from a page of docs/: a roff header (title, NAME, SYNOPSIS) written
# here, then the page itself through cmark-gfm's man writer, compressed as Debian installs
# manual pages. The page's own title is dropped (NAME says it) and its sections become the
# page's sections.
#
# cmake -DCMARK=... -DPAGE=docs/x.md -DNAME=tool -DSUMMARY="..." -DSYNOPSIS="a|b"
#       -DVERSION=2.0 -DOUT=tool.1 -P manpage.cmake
execute_process(COMMAND ${CMARK} --to man -e table ${PAGE}
    OUTPUT_VARIABLE body RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "cmark-gfm could not convert ${PAGE}")
endif()
# The first heading is the page's title: drop it with its text line.
string(REGEX REPLACE "^\\.SH\n[^\n]*\n" "" body "${body}")
# Second-level headings become the page's sections (deeper ones stay subsections).
string(REPLACE ".SS\n" ".SH\n" body "${body}")
# A text line that starts with a dot or a quote would be read as a request: guard it.
string(REGEX REPLACE "\n([.'][^A-Za-z])" "\n\\\\&\\1" body "${body}")
# Tables: the last column takes the width that is left and wraps (a text block), instead of
# running past the line.
string(REPLACE "tab(@);\ncccc.\n" "tab(@);\nl l l lx.\n" body "${body}")
string(REPLACE "tab(@);\nccc.\n" "tab(@);\nl l lx.\n" body "${body}")
string(REPLACE "tab(@);\ncc.\n" "tab(@);\nl lx.\n" body "${body}")
string(REPLACE ";" "\\;" body "${body}")
string(REPLACE "\n" ";" lines "${body}")
set(body "")
set(in_table OFF)
foreach(line IN LISTS lines)
    if(line STREQUAL ".TS")
        set(in_table ON)
    elseif(line STREQUAL ".TE")
        set(in_table OFF)
    elseif(in_table AND NOT line MATCHES "^tab\\(" AND line MATCHES "^(.*)@([^@]*)$")
        set(line "${CMAKE_MATCH_1}@T{\n${CMAKE_MATCH_2}\nT}")
    endif()
    string(APPEND body "${line}\n")
endforeach()
string(TOUPPER "${NAME}" title)
string(REPLACE "-" "\\-" roffname "${NAME}")
set(page ".TH \"${title}\" \"1\" \"2026\" \"Norvane ${VERSION}\" \"User Commands\"\n")
string(APPEND page ".SH NAME\n${roffname} \\- ${SUMMARY}\n.SH SYNOPSIS\n")
string(REPLACE "|" ";" forms "${SYNOPSIS}")
foreach(form ${forms})
    string(REPLACE "-" "\\-" form "${form}")
    string(APPEND page ".PP\n\\fB${roffname}\\fR ${form}\n")
endforeach()
string(APPEND page ".SH DESCRIPTION\n${body}")
string(APPEND page ".SH LICENSE\nGPL\\-3.0\\-or\\-later. See /usr/share/doc/norvane/copyright.\n")
file(WRITE ${OUT} "${page}")
execute_process(COMMAND gzip -9nf ${OUT} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress ${OUT}")
endif()
