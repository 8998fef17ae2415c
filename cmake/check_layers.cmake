# Checks that the folders of csrc/ include one another one way only, as the house is drawn: the
# entry above both bindings, the bindings above their shared toolkit, the toolkit above the native
# core, the core above json/, posix/ and segmenter/ (cppjieba's cuts on flat tables), and everything
# above the primitives of base/. A folder includes itself and the folders below it, never one above
# or beside it; only the binding folders include Python or pybind11, and pybind11's detail
# namespace is spelled in the toolkit alone.
#   cmake -DSOURCE_DIR=<repository> -P cmake/check_layers.cmake   (CTest runs it)

cmake_minimum_required(VERSION 3.18)

# From the top down; the folders of one entry stand side by side.
set(layers "module" "tokenizer" "binding" "bm25" "json,posix,segmenter" "base")
set(python_folders module tokenizer binding)

function(layer_of folder result)
  set(index 0)
  foreach(entry IN LISTS layers)
    string(REPLACE "," ";" members "${entry}")
    if(folder IN_LIST members)
      set(${result} ${index} PARENT_SCOPE)
      return()
    endif()
    math(EXPR index "${index} + 1")
  endforeach()
  set(${result} -1 PARENT_SCOPE)
endfunction()

file(GLOB folders RELATIVE "${SOURCE_DIR}/csrc" "${SOURCE_DIR}/csrc/*")
set(faults "")
foreach(folder IN LISTS folders)
  layer_of(${folder} layer)
  if(layer EQUAL -1)
    list(APPEND faults "csrc/${folder}/ has no place in cmake/check_layers.cmake")
    continue()
  endif()
  file(GLOB sources "${SOURCE_DIR}/csrc/${folder}/*")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
    file(STRINGS "${source}" includes REGEX "^#include [\"<]")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include [\"<]([^\">]*)[\">].*" "\\1" included "${line}")
      if(included MATCHES "^(pybind11/|Python\\.h$)" AND NOT folder IN_LIST python_folders)
        list(APPEND faults "${name} includes ${included}: the native core stays free of Python")
      endif()
      if(NOT included MATCHES "/" OR NOT line MATCHES "^#include \"")
        continue()  # the folder's own header, or a system or library one
      endif()
      string(REGEX REPLACE "/.*" "" target "${included}")
      layer_of(${target} target_layer)
      if(target_layer EQUAL -1)
        continue()  # a library's own folder, such as cppjieba/
      endif()
      if(NOT target_layer GREATER layer)
        list(APPEND faults "${name} includes ${included}: ${target}/ is not below ${folder}/")
      endif()
    endforeach()
    if(NOT folder STREQUAL "binding")
      file(STRINGS "${source}" detail REGEX "detail::|namespace pybind11::detail")
      if(detail)
        list(APPEND faults "${name} spells pybind11's detail namespace, which stays in binding/")
      endif()
    endif()
  endforeach()
endforeach()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "Include layers:\n  ${text}")
endif()
list(LENGTH folders count)
message(STATUS "Include layers: ${count} folders, every arrow points down")
