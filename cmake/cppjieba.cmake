# Finds the cppjieba source tree (headers, limonp, dictionaries) and sets PYTARNTEXT_CPPJIEBA_DIR,
# and PYTARNTEXT_CPPJIEBA_DATA to the files that the wheel ships: the five dictionaries and the
# licence that covers them.
#
# A tree of the user's own: -DPYTARNTEXT_CPPJIEBA_DIR=... or the environment variable of that name;
# then nothing is fetched. Otherwise cppjieba v5.4.0 comes from the npm package nodejieba (the
# version below), which carries it under submodules/cppjieba: fetched once with `npm pack`, checked
# against a pinned hash, and unpacked into .cache/ in the source tree (ignored by git).

# The one place that names the fetched version; tests/setup.sh reads it from this line.
set(_nodejieba_version 3.5.8)
set(_spec nodejieba@${_nodejieba_version})
set(_package nodejieba-${_nodejieba_version})

set(PYTARNTEXT_CPPJIEBA_DIR "$ENV{PYTARNTEXT_CPPJIEBA_DIR}" CACHE PATH
    "cppjieba source tree (include/, deps/limonp/, dict/); empty to fetch ${_spec} with npm")

set(_sha512 4c5883620115981810c00af5b158fb7abaf70a7db5ab13314cb03e2d3115a8a706aa0c09ba89c9116d20ea81f6fbb16130a25f916b2f963d52693ad65ded50f7)
set(_cache "${CMAKE_CURRENT_SOURCE_DIR}/.cache")
set(_tarball "${_cache}/${_package}.tgz")
set(_unpacked "${_cache}/${_package}")
set(_how_to "Either install Node.js and npm (Debian: apt-get install npm) so that the build can fetch "
            "${_spec}, or point the build at a cppjieba v5.4.0 tree of your own with "
            "-DPYTARNTEXT_CPPJIEBA_DIR=<dir> or the environment variable PYTARNTEXT_CPPJIEBA_DIR.")

function(_pytarntext_check_tarball result)
  file(SHA512 "${_tarball}" actual)
  if(actual STREQUAL _sha512)
    set(${result} TRUE PARENT_SCOPE)
  else()
    set(${result} FALSE PARENT_SCOPE)
  endif()
endfunction()

if(NOT PYTARNTEXT_CPPJIEBA_DIR)
  if(NOT EXISTS "${_unpacked}/package/submodules/cppjieba/include/cppjieba/Jieba.hpp")
    if(EXISTS "${_tarball}")
      _pytarntext_check_tarball(valid)
      if(NOT valid)
        file(REMOVE "${_tarball}")
      endif()
    endif()
    if(NOT EXISTS "${_tarball}")
      find_program(PYTARNTEXT_NPM npm)
      if(NOT PYTARNTEXT_NPM)
        message(FATAL_ERROR "cppjieba is needed and npm was not found. ${_how_to}")
      endif()
      file(MAKE_DIRECTORY "${_cache}")
      message(STATUS "cppjieba: fetching ${_package} with npm pack into ${_cache} (once: later "
                     "builds and the sdist reuse it)")
      execute_process(
        COMMAND "${PYTARNTEXT_NPM}" pack "${_spec}" --pack-destination "${_cache}"
                --ignore-scripts --silent
        RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE npm_error TIMEOUT 600)
      if(NOT status EQUAL 0 OR NOT EXISTS "${_tarball}")
        message(FATAL_ERROR "npm pack ${_spec} failed (${status}): ${npm_error}\n${_how_to}")
      endif()
    endif()
    _pytarntext_check_tarball(valid)
    if(NOT valid)
      file(REMOVE "${_tarball}")
      message(FATAL_ERROR "${_tarball} does not match its pinned SHA-512; it was removed. "
                          "Run the build again to fetch it anew. ${_how_to}")
    endif()
    message(STATUS "cppjieba: unpacking ${_tarball}")
    file(REMOVE_RECURSE "${_unpacked}")
    file(ARCHIVE_EXTRACT INPUT "${_tarball}" DESTINATION "${_unpacked}"
         PATTERNS package/submodules/cppjieba)
  endif()
  set(PYTARNTEXT_CPPJIEBA_DIR "${_unpacked}/package/submodules/cppjieba")
endif()

set(PYTARNTEXT_CPPJIEBA_DATA "${PYTARNTEXT_CPPJIEBA_DIR}/LICENSE")
foreach(name jieba.dict.utf8 hmm_model.utf8 user.dict.utf8 idf.utf8 stop_words.utf8)
  list(APPEND PYTARNTEXT_CPPJIEBA_DATA "${PYTARNTEXT_CPPJIEBA_DIR}/dict/${name}")
endforeach()
foreach(needed include/cppjieba/Jieba.hpp deps/limonp/include/limonp/Logging.hpp)
  list(APPEND _needed "${PYTARNTEXT_CPPJIEBA_DIR}/${needed}")
endforeach()
foreach(needed IN LISTS _needed PYTARNTEXT_CPPJIEBA_DATA)
  if(NOT EXISTS "${needed}")
    message(FATAL_ERROR "${PYTARNTEXT_CPPJIEBA_DIR} is not a cppjieba tree with deps/limonp, "
                        "its dictionaries and its LICENSE: it has no ${needed}. ${_how_to}")
  endif()
endforeach()
message(STATUS "cppjieba: ${PYTARNTEXT_CPPJIEBA_DIR}")

# A test or fuzzer that builds the pristine library as its oracle: its headers (SYSTEM: not ours to
# keep free of warnings), and where its dictionaries and its test data (the novel) are.
function(pytarntext_use_pristine_cppjieba target)
  target_include_directories(${target} SYSTEM PRIVATE
    "${PYTARNTEXT_CPPJIEBA_DIR}/include" "${PYTARNTEXT_CPPJIEBA_DIR}/deps/limonp/include")
  target_compile_definitions(${target} PRIVATE
    PYTARNTEXT_DICT_DIR="${PYTARNTEXT_CPPJIEBA_DIR}/dict"
    PYTARNTEXT_TEST_DATA_DIR="${PYTARNTEXT_CPPJIEBA_DIR}/test/testdata")
  # Its log lines name its file by __FILE__: as "DictTrie.hpp", as the module's own segmenter names
  # it, not by the path of the tree it was built from (fetched into .cache/ or the user's own).
  get_filename_component(tree "${PYTARNTEXT_CPPJIEBA_DIR}" REALPATH)
  foreach(dir "${PYTARNTEXT_CPPJIEBA_DIR}" "${tree}")
    target_compile_options(${target} PRIVATE "-ffile-prefix-map=${dir}/=cppjieba/"
      "-ffile-prefix-map=${dir}/include/cppjieba/=" "-ffile-prefix-map=${dir}/deps/limonp/include/limonp/=")
  endforeach()
endfunction()
