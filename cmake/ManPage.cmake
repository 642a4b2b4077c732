# SPDX-License-Identifier: ISC
# cmake -DIN=page.1 -DOUT=page.1.gz -DVERSION=x.y.z [-DKEY_ID=id] [-DGZIP=gzip] -P ManPage.cmake
# Writes a manual page with the version in its footer (the fourth field of
# .TH, "signcheck" in the source) and, given KEY_ID, that key ID as the
# page's string Ki, compressed where gzip is given.
file(READ ${IN} text)
if(KEY_ID AND text MATCHES "\n\\.ds Ki [^\n]*\n")
  string(REPLACE "," ", " key_ids "${KEY_ID}")
  string(REGEX REPLACE "\n\\.ds Ki [^\n]*\n" "\n.ds Ki ${key_ids}\n" text "${text}")
endif()
string(REGEX REPLACE "(\n\\.TH [^\n]*)\"signcheck\"" "\\1\"signcheck ${VERSION}\"" text "${text}")
if(NOT text MATCHES "\n\\.TH [^\n]*\"signcheck ${VERSION}\"")
  message(FATAL_ERROR "${IN}: no .TH line with \"signcheck\" as its source field")
endif()
if(GZIP)
  file(WRITE ${OUT}.tmp "${text}")
  # -n leaves out the name and time stamp, so equal pages give equal files.
  execute_process(COMMAND ${GZIP} -9 -n -c ${OUT}.tmp OUTPUT_FILE ${OUT} RESULT_VARIABLE status)
  file(REMOVE ${OUT}.tmp)
  if(status)
    message(FATAL_ERROR "gzip failed on ${IN}")
  endif()
else()
  file(WRITE ${OUT} "${text}")
endif()
