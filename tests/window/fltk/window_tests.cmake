# Tests of the FLTK front end, included from app/fltk/CMakeLists.txt so that they exist only
# where the FLTK program is built: the toolkit-free text and layout code under GoogleTest, and
# the window itself driven under Xvfb (LE_WINDOW_TESTS).
set(window_tests_dir ${PROJECT_SOURCE_DIR}/tests/window/fltk)

add_executable(fltk_front_end_test ${window_tests_dir}/front_end_test.cpp)
target_link_libraries(fltk_front_end_test PRIVATE le_fltk_text GTest::gtest_main)
le_add_test(fltk_front_end_test)

if(LE_WINDOW_TESTS)
  find_program(LE_XVFB Xvfb)
  find_program(LE_XDOTOOL xdotool)
  find_program(LE_IMPORT import)
  if(NOT LE_XVFB OR NOT LE_XDOTOOL OR NOT LE_IMPORT)
    message(WARNING "Window tests need Xvfb, xdotool and ImageMagick's import (scripts/setup.sh)")
  else()
    # The close box's message, which Xvfb without a window manager never sends by itself.
    add_executable(le-wm-close ${window_tests_dir}/wm_close.cpp)
    target_include_directories(le-wm-close SYSTEM PRIVATE ${X11_INCLUDE_DIR})
    target_link_libraries(le-wm-close PRIVATE ${X11_X11_LIB})

    set(screenshots ${CMAKE_BINARY_DIR}/screenshots/fltk)
    foreach(case keyboard mouse boxes no_table no_display)
      add_test(NAME fltk_window.${case}
               COMMAND bash ${window_tests_dir}/window_test.sh $<TARGET_FILE:level-editor>
                       $<TARGET_FILE:le-wm-close> ${screenshots} ${case})
      set_tests_properties(fltk_window.${case} PROPERTIES LABELS window TIMEOUT 180)
    endforeach()
  endif()
endif()
