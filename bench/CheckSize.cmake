# Fails when FILE is larger than LIMIT bytes.
# Usage: cmake -DFILE=<path> -DLIMIT=<bytes> -P CheckSize.cmake
file(SIZE "${FILE}" size)
if(size GREATER LIMIT)
  message(FATAL_ERROR "${FILE} is ${size} bytes, more than ${LIMIT}")
endif()
message(STATUS "${FILE}: ${size} bytes (at most ${LIMIT})")
