# A manual page as the plain text the Windows zip carries: groff's ASCII rendering without
# overstrikes or hyphenation, at 78 columns, with Windows' line ends.
# cmake -DGROFF=groff -DPAGE=page.1 -DOUT=page.txt -P man-to-text.cmake
execute_process(COMMAND ${GROFF} -man -Tascii -P-cbou -rHY=0 -ww ${PAGE}
                OUTPUT_VARIABLE text ERROR_VARIABLE warnings RESULT_VARIABLE failed)
if(failed OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "groff on ${PAGE}: ${failed}\n${warnings}")
endif()
string(REPLACE "\n" "\r\n" text "${text}")
file(WRITE ${OUT} "${text}")
