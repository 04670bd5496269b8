# Run at build time (cmake -P): writes the version header of the programs, with the git
# commit when the sources are a git work tree. The file is rewritten only when its text
# changes, so a build after a commit recompiles only what prints the version.
# In: SOURCE_DIR, OUTPUT, VERSION.
set(text "${VERSION}")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${SOURCE_DIR}/.git")
  execute_process(COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0 AND commit)
    set(text "${VERSION} (git ${commit})")
  endif()
endif()
set(content "#pragma once\n// Written by cmake/WriteVersionHeader.cmake at build time.\n#define KESTREL_VERSION_TEXT \"${text}\"\n")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
