# Makes the page one file that works from file://, where Chromium loads no
# module script, no worker script and no .wasm beside the page: the worker
# (the classic glue with the wasm inlined, web/mek.js without its ES module
# lines, web/zip.js and web/worker.js) goes into a text script the page
# starts as a Blob URL, and web/zip.js into the page's own script.
#   cmake -DPAGE= -DGLUE= -DMODULE= -DZIP= -DWORKER= -DOUT= -P bundle.cmake
foreach(part PAGE GLUE MODULE ZIP WORKER)
  file(READ "${${part}}" ${part}_text)
endforeach()
string(REGEX REPLACE "[^\n]*// ES module only\n" "" MODULE_text "${MODULE_text}")
set(worker "${GLUE_text}\n${MODULE_text}\n${ZIP_text}\n${WORKER_text}")
string(TOLOWER "${worker}${ZIP_text}" lower)
string(FIND "${lower}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "the worker's text holds </script, which would end the page's script")
endif()
string(REPLACE "/*@MEK_WORKER@*/" "${worker}" page "${PAGE_text}")
string(REPLACE "/*@MEK_ZIP@*/" "${ZIP_text}" page "${page}")
file(WRITE "${OUT}" "${page}")
