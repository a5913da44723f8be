# SPDX-License-Identifier: GPL-3.0-or-later
# Runs lupdate over the window's sources (SOURCE_DIR) into a copy of TS_FILE
# in WORK_DIR, which it removes again, and fails when the copy then holds a
# text without a finished translation (marked in the sources but not yet
# translated) or a translation whose text has vanished from the sources.
# Usage: cmake -DLUPDATE=... -DTS_FILE=... -DSOURCE_DIR=... -DWORK_DIR=... -P CheckTranslations.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
get_filename_component(name "${TS_FILE}" NAME)
set(copy "${WORK_DIR}/${name}")
file(COPY_FILE "${TS_FILE}" "${copy}")
file(GLOB sources "${SOURCE_DIR}/*.cpp" "${SOURCE_DIR}/*.h")
execute_process(COMMAND "${LUPDATE}" -silent -locations none ${sources} -ts "${copy}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(READ "${copy}" text)
file(REMOVE_RECURSE "${WORK_DIR}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "lupdate failed (${status}): ${output}")
endif()
string(REGEX MATCHALL "<source>[^<]*</source>[ \t\r\n]*<translation type=\"(unfinished|vanished|obsolete)\"" stale "${text}")
if(stale)
  string(REPLACE ";" "\n" stale "${stale}")
  message(FATAL_ERROR "${name} is not up to date with the sources; run lupdate -locations none ui/*.cpp ui/*.h "
                      "-ts ${TS_FILE} and translate:\n${stale}")
endif()
message(STATUS "${name}: every text of the sources has its translation")
