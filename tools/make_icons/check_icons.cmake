# Regenerates the icons into WORK_DIR and compares them byte for byte with the
# committed ones in ICON_DIR. Fails on any difference or missing file.
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${TOOL} ${WORK_DIR} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "make_icons failed: ${result}")
endif()
file(GLOB generated RELATIVE ${WORK_DIR} ${WORK_DIR}/*.ico)
list(LENGTH generated count)
if(count EQUAL 0)
  message(FATAL_ERROR "make_icons wrote no icons")
endif()
foreach(name IN LISTS generated)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/${name} ${ICON_DIR}/${name}
                  RESULT_VARIABLE differs)
  if(NOT differs EQUAL 0)
    message(FATAL_ERROR "${ICON_DIR}/${name} is not what make_icons draws; "
                        "build the target regenerate_icons and commit the result")
  endif()
endforeach()
message(STATUS "${count} icons match")
