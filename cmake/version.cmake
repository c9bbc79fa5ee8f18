# Writes the build's source revision into a header at build time, so that the
# version text names the revision the binary was really built from. The file is
# rewritten only when the revision changes, which avoids needless rebuilds.
execute_process(
    COMMAND git -C "${SOURCE_DIR}" rev-parse --short=12 HEAD
    OUTPUT_VARIABLE rev
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET
    RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR rev STREQUAL "")
    set(rev "unknown")
endif()
set(content "#define QV_VERSION_REVISION \"${rev}\"\n")
if(EXISTS "${OUTPUT}")
    file(READ "${OUTPUT}" old)
else()
    set(old "")
endif()
if(NOT old STREQUAL content)
    file(WRITE "${OUTPUT}" "${content}")
endif()
