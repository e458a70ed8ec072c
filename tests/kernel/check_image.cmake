# Checks the headers of the kernel image with objdump -p and -h: native subsystem, exactly the
# three exports, imports from ntoskrnl.exe, HAL.dll and ks.sys only, and nothing a kernel DLL
# must not carry: thread-local storage, exception or unwind tables, static constructors, writable
# data sections, AVX instructions.
#   cmake -DIMAGE=tessil.sys -DOBJDUMP=i686-w64-mingw32-objdump -P check_image.cmake
if(NOT EXISTS "${IMAGE}")
  message(FATAL_ERROR "no image at '${IMAGE}'")
endif()
execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "objdump -p failed on ${IMAGE}")
endif()
execute_process(COMMAND ${OBJDUMP} -h ${IMAGE} OUTPUT_VARIABLE sections)

set(problems "")
if(NOT headers MATCHES "Subsystem[ \t]+00000001[ \t]+\\(NT native\\)")
  list(APPEND problems "subsystem is not native")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" modules "${headers}")
list(TRANSFORM modules REPLACE "DLL Name: " "")
list(SORT modules)
if(NOT modules STREQUAL "HAL.dll;ks.sys;ntoskrnl.exe")
  list(APPEND problems "imports from '${modules}' instead of HAL.dll, ks.sys, ntoskrnl.exe")
endif()

string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n(([ \t]+\\[[^\n]+\n)*)" table "${headers}")
string(REGEX MATCHALL "\\] [A-Za-z_@0-9]+" exports "${CMAKE_MATCH_1}")
list(TRANSFORM exports REPLACE "\\] " "")
list(SORT exports)
if(NOT exports STREQUAL "CreateTessilManager;DllInitialize;DllUnload")
  list(APPEND problems "exports '${exports}' instead of CreateTessilManager, DllInitialize, DllUnload")
endif()

foreach(directory "Exception Directory" "Thread Storage Directory")
  if(headers MATCHES "Entry [0-9a-f] [0-9a-f]+ [0-9a-f]*[1-9a-f][0-9a-f]* ${directory}")
    list(APPEND problems "the image has a non-empty ${directory}")
  endif()
endforeach()

string(REGEX MATCHALL "\n +[0-9]+ ([^ ]+)" names "${sections}")
list(TRANSFORM names REPLACE "\n +[0-9]+ " "")
foreach(name IN LISTS names)
  if(NOT name MATCHES "^\\.(text|rdata|edata|idata|reloc)$")
    list(APPEND problems "unexpected section ${name}")
  endif()
endforeach()

# Saving the floating-point state on the 32-bit kernel covers x87 and SSE registers only; code
# that touched the AVX registers would corrupt the interrupted thread's state.
execute_process(COMMAND ${OBJDUMP} -d ${IMAGE} OUTPUT_VARIABLE code)
if(code MATCHES "%[yz]mm[0-9]")
  list(APPEND problems "the code uses AVX registers, which the floating-point save does not cover")
endif()

if(problems)
  list(JOIN problems "\n  " text)
  message(FATAL_ERROR "kernel image ${IMAGE}:\n  ${text}")
endif()
message(STATUS "kernel image ${IMAGE}: native, exports ${exports}, imports ${modules}, sections ${names}")
