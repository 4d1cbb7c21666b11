# Runs tools/gen_glyphs.py into a scratch directory and compares its output
# with the committed sources byte for byte. Exit code 77 means skipped.
if(NOT PYTHON OR NOT EXISTS /usr/share/hershey-fonts/timesr.jhf)
  message("python3 or the Hershey font files are missing: skipped")
  cmake_language(EXIT 77)
endif()
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND ${PYTHON} ${SOURCE_DIR}/tools/gen_glyphs.py --out ${WORK_DIR}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gen_glyphs.py failed (${rc})")
endif()
foreach(f glyph_data.h glyphs_complex.cpp glyphs_default.cpp)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/${f}
                          ${SOURCE_DIR}/plot/text/${f} RESULT_VARIABLE diff)
  if(NOT diff EQUAL 0)
    message(FATAL_ERROR "plot/text/${f} differs from the generator's output")
  endif()
endforeach()
message("generated tables match")
