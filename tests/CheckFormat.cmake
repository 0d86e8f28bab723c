# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a source file differs from what clang-format makes of it.
find_program(CLANG_FORMAT NAMES clang-format clang-format-14)
if(NOT CLANG_FORMAT)
    message(STATUS "clang-format not installed; style not checked")
    return()
endif()
file(GLOB_RECURSE sources
    ${SOURCE_DIR}/shell/*.cpp ${SOURCE_DIR}/shell/*.h
    ${SOURCE_DIR}/common/*.cpp ${SOURCE_DIR}/common/*.h
    ${SOURCE_DIR}/playback/*.cpp ${SOURCE_DIR}/playback/*.h
    ${SOURCE_DIR}/video/*.cpp ${SOURCE_DIR}/video/*.h
    ${SOURCE_DIR}/controls/*.cpp ${SOURCE_DIR}/controls/*.h
    ${SOURCE_DIR}/ui/*.cpp ${SOURCE_DIR}/ui/*.h
    ${SOURCE_DIR}/media/*.cpp ${SOURCE_DIR}/media/*.h
    ${SOURCE_DIR}/platform/*.cpp ${SOURCE_DIR}/platform/*.h
    ${SOURCE_DIR}/tests/*.cpp ${SOURCE_DIR}/tests/*.h
    ${SOURCE_DIR}/bench/*.cpp ${SOURCE_DIR}/bench/*.h)
execute_process(COMMAND ${CLANG_FORMAT} --dry-run --Werror ${sources}
    RESULT_VARIABLE result ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "clang-format would change:\n${output}")
endif()
