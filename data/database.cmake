# cmake -P helper for the parameter database.
#   MODE=generate SQLITE3=<cli> SQL=<file.sql> OUT=<file.dat>
#     builds a fresh database from the SQL text (into a temporary file first,
#     so a failed run leaves no half-made database behind).
#   MODE=place SRC=<file.dat> DEST=<file.dat>
#     copies SRC to DEST only when DEST does not exist yet (or is empty).
cmake_minimum_required(VERSION 3.25)

if(MODE STREQUAL "generate")
  set(_tmp "${OUT}.tmp")
  file(REMOVE "${_tmp}")
  execute_process(COMMAND "${SQLITE3}" -bail "${_tmp}"
    INPUT_FILE "${SQL}"
    RESULT_VARIABLE _rc
    ERROR_VARIABLE _err)
  if(NOT _rc EQUAL 0 OR NOT _err STREQUAL "")
    file(REMOVE "${_tmp}")
    message(FATAL_ERROR "Building ${OUT} from ${SQL} failed: ${_err}")
  endif()
  file(RENAME "${_tmp}" "${OUT}")
elseif(MODE STREQUAL "place")
  # An empty file is what the program leaves when it started without a
  # database; it holds no choices, so it is replaced like a missing one.
  set(_size 0)
  if(EXISTS "${DEST}")
    file(SIZE "${DEST}" _size)
  endif()
  if(EXISTS "${DEST}" AND _size GREATER 0)
    message(STATUS "Keeping the existing ${DEST}")
  else()
    get_filename_component(_dir "${DEST}" DIRECTORY)
    file(MAKE_DIRECTORY "${_dir}")
    file(COPY_FILE "${SRC}" "${DEST}.tmp")
    file(RENAME "${DEST}.tmp" "${DEST}")
    message(STATUS "Installing the default ${DEST}")
  endif()
else()
  message(FATAL_ERROR "database.cmake: unknown MODE '${MODE}'")
endif()
