# Generates, at configure time, the lists that the ABI probes compile:
#   zel_abi_tree_calls.inc   every call the layer's headers bind, as
#                            ZEL_ABI_CALL(expression in a program, symbol)
#   zel_abi_impl_calls.inc   every zel_linux_ function of zel_linux_libc.h
#   zel_abi_constants.inc    every ZEL_LINUX_ constant of zel_linux_libc.h
#   zel_abi_errno.inc        every E... number of the layer's errno.h
#   zel_abi_headers.inc      an #include line for each header of the layer
#   zel_abi_weak_stubs.c     a weak definition of every zel_linux_ function
#                            that reports the call and aborts
# Inputs: ZEL_LINUX_LIBC_INCLUDE_DIR, ZEL_ABI_GENERATED_DIR.

# Header text without comments, line continuations and preprocessor lines.
function(zel_abi_read_declarations file out_var)
  file(READ ${file} text)
  string(REGEX REPLACE "/\\*([^*]|\\*+[^*/])*\\*+/" " " text "${text}")
  string(REGEX REPLACE "//[^\n]*" "" text "${text}")
  string(REGEX REPLACE "\\\\\n" " " text "${text}")
  string(REGEX REPLACE "(^|\n)[ \t]*#[^\n]*" "\\1" text "${text}")
  set(${out_var} "${text}" PARENT_SCOPE)
endfunction()

set(tree ${ZEL_LINUX_LIBC_INCLUDE_DIR})
file(GLOB_RECURSE tree_headers RELATIVE ${tree} ${tree}/*.h)
list(FILTER tree_headers EXCLUDE REGEX "^abi/")
list(SORT tree_headers)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tree}/abi/zel_linux_libc.h)

set(headers_inc "")
set(tree_calls "")
set(errno_names "")
foreach(header IN LISTS tree_headers)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tree}/${header})
  string(APPEND headers_inc "#include <${header}>\n")
  zel_abi_read_declarations(${tree}/${header} text)
  # Declarations end at ';' (CMake reads the text as a list of them).
  string(REPLACE "[" "(" text "${text}")
  string(REPLACE "]" ")" text "${text}")
  foreach(statement IN LISTS text)
    if(statement MATCHES "__ZEL_LINUX\\(([a-z0-9_]+)\\)")
      # Bound declaration: the standard name is the first name before '('.
      set(symbol ${CMAKE_MATCH_1})
      string(REGEX MATCH "([A-Za-z_][A-Za-z0-9_]*)[ \t\n]*\\(" name "${statement}")
      string(APPEND tree_calls "ZEL_ABI_CALL(${CMAKE_MATCH_1}, ${symbol})\n")
    elseif(statement MATCHES "(zel_linux_([a-z0-9_]+))[ \t\n]*\\(")
      # Declared under its own layer name.
      string(APPEND tree_calls "ZEL_ABI_CALL(${CMAKE_MATCH_1}, ${CMAKE_MATCH_2})\n")
    endif()
  endforeach()
endforeach()

file(READ ${tree}/errno.h errno_text)
string(REGEX MATCHALL "#define (E[A-Z0-9]+) [0-9]+" errno_defines "${errno_text}")
foreach(define IN LISTS errno_defines)
  string(REGEX REPLACE "#define (E[A-Z0-9]+) .*" "ZEL_ABI_ERRNO(\\1)\n" line "${define}")
  string(APPEND errno_names "${line}")
endforeach()

zel_abi_read_declarations(${tree}/abi/zel_linux_libc.h impl_text)
string(REGEX MATCHALL "zel_linux_[a-z0-9_]+[ \t\n]*\\(" impl_functions "${impl_text}")
set(impl_calls "")
set(weak_stubs "/* Generated from zel_linux_libc.h. */\nvoid zel_abi_unexpected_call(const char *name);\n")
foreach(function IN LISTS impl_functions)
  string(REGEX REPLACE "zel_linux_([a-z0-9_]+).*" "\\1" symbol "${function}")
  string(APPEND impl_calls "ZEL_ABI_CALL(${symbol})\n")
  string(APPEND weak_stubs "__attribute__((weak)) void zel_linux_${symbol}(void) { zel_abi_unexpected_call(\"${symbol}\"); }\n")
endforeach()
string(REGEX MATCHALL "ZEL_LINUX_[A-Z0-9_]+ =" impl_constants "${impl_text}")
set(constants "")
foreach(constant IN LISTS impl_constants)
  string(REGEX REPLACE "ZEL_LINUX_([A-Z0-9_]+) =" "ZEL_ABI_CONSTANT(\\1)\n" line "${constant}")
  string(APPEND constants "${line}")
endforeach()

file(CONFIGURE OUTPUT ${ZEL_ABI_GENERATED_DIR}/zel_abi_weak_stubs.c CONTENT "${weak_stubs}" @ONLY)
foreach(item headers_inc tree_calls impl_calls constants errno_names)
  string(REPLACE "_inc" "" name ${item})
  string(REPLACE "_names" "" name ${name})
  file(CONFIGURE OUTPUT ${ZEL_ABI_GENERATED_DIR}/zel_abi_${name}.inc CONTENT "${${item}}" @ONLY)
endforeach()
