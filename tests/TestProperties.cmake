# Tests that need more than the defaults set in tests/CMakeLists.txt.
# Example: a test that plays sound needs the audio server fixture:
#   set_tests_properties(media.audiooutput PROPERTIES FIXTURES_REQUIRED "test_media;audio_server")

# The application shell end to end: the real player under Xvfb, in a temporary
# HOME, started, signalled and launched a second time (tests/app/shell_checks.sh).
add_test(NAME app.shell_checks
  COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/support/run_gui_test.sh" --xvfb
    sh "${CMAKE_CURRENT_SOURCE_DIR}/app/shell_checks.sh"
    "$<TARGET_FILE:tessarin_orvel>" "${TESSARIN_TEST_MEDIA}/h264_cfr25.mp4")
set_tests_properties(app.shell_checks PROPERTIES FIXTURES_REQUIRED test_media TIMEOUT 300)

# Audio output: plays through the test server's null sink and captures its
# monitor, in real time: alone, so that no other test's sound mixes in and no
# load starves the audio thread.
set_tests_properties(media.audiooutput PROPERTIES
  FIXTURES_REQUIRED "test_media;audio_server" RUN_SERIAL TRUE)
# The engine's long suites (hundreds of decodes of every kind of test file,
# each case at several thread counts): a busy machine of two cores, or a
# sanitizer build, takes them past the default time-out. The parser's suite
# takes a minute and a half alone in the sanitizer build, but ten minutes
# while the other suites decode on every core beside it.
set_tests_properties(media.videodecoder media.avmanager media.exportmanager media.avparser
  PROPERTIES TIMEOUT 1500)
# The paused output's timers: plays through the null sink, checks no sound.
set_tests_properties(media.audiooutputrest PROPERTIES FIXTURES_REQUIRED "test_media;audio_server")

# Frame accuracy of the whole engine against ffmpeg's framemd5, through the
# benchmark program (tests/media/bench_frames_check.sh). bench/ is read after
# this folder, so the test is added once the whole tree has been read, and
# only when the benchmark program is built (the sanitizer build makes it for
# this test alone, and runs fewer of its parallel runs).
function(tessarin_add_bench_frames_test)
  if(TARGET tessarin_bench)
    set(extent full)
    if(TESSARIN_SANITIZE)
      set(extent reduced)
    endif()
    add_test(NAME media.bench_frames
      COMMAND sh "${CMAKE_SOURCE_DIR}/tests/media/bench_frames_check.sh"
        "$<TARGET_FILE:tessarin_bench>" "${TESSARIN_TEST_MEDIA}" ${extent})
    # A starved run plays again at normal speed what it played too few
    # frames of: the time-out leaves room for that.
    set_tests_properties(media.bench_frames PROPERTIES FIXTURES_REQUIRED test_media TIMEOUT 1500 LABELS timing)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY "${CMAKE_SOURCE_DIR}" CALL tessarin_add_bench_frames_test)

# The client API from outside: an independent Python client against the real
# player (its own HOME, settings file and port) under an X server of its own.
find_package(Python3 COMPONENTS Interpreter)
if(Python3_Interpreter_FOUND)
  add_test(NAME remote.client_api
    COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/support/run_gui_test.sh" --xvfb
      "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/remote/client_api_check.py"
      "$<TARGET_FILE:tessarin_orvel>" "${TESSARIN_TEST_MEDIA}")
  set_tests_properties(remote.client_api PROPERTIES FIXTURES_REQUIRED test_media TIMEOUT 300)

  # The real player against media that blocks or changes under it: a FIFO,
  # a file cut, emptied, deleted or replaced while it plays. Each case bounds
  # its own waits, so a hang fails the case.
  add_test(NAME app.stall_checks
    COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/support/run_gui_test.sh" --xvfb
      "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/app/stall_checks.py" "$<TARGET_FILE:tessarin_orvel>")
  set_tests_properties(app.stall_checks PROPERTIES TIMEOUT 300)

  # A second launch while the first player quits (by its window or by a
  # signal): the launch's file shows in a window either way.
  add_test(NAME app.quit_handover
    COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/support/run_gui_test.sh" --xvfb
      "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/app/quit_handover_check.py"
      "$<TARGET_FILE:tessarin_orvel>" "${TESSARIN_TEST_MEDIA}")
  set_tests_properties(app.quit_handover PROPERTIES FIXTURES_REQUIRED test_media TIMEOUT 600)
endif()

# The whole player as a user meets it: an X server of its own, key presses,
# screenshots read back to frame numbers, a second launch, both rendering modes
# (tests/window/end_to_end.py). Its screenshots stay in the build tree. Under
# the sanitizers the player is slow: the script waits four times longer.
if(Python3_Interpreter_FOUND)
  set(end_to_end_options "")
  if(TESSARIN_SANITIZE)
    set(end_to_end_options --sanitized)
  endif()
  add_test(NAME window.end_to_end
    COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/window/end_to_end.py" ${end_to_end_options}
      "$<TARGET_FILE:tessarin_orvel>" "${TESSARIN_TEST_MEDIA}"
      "${CMAKE_BINARY_DIR}/test-artefacts/window.end_to_end")
  set_tests_properties(window.end_to_end PROPERTIES FIXTURES_REQUIRED test_media TIMEOUT 900)
  # Looped play of a long GOP with sound in the window: the picture read from
  # the screen is the frame the player reports (tests/window/picture_number.py).
  add_test(NAME window.picture_number
    COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_SOURCE_DIR}/window/picture_number.py" ${end_to_end_options}
      "$<TARGET_FILE:tessarin_orvel>" "${TESSARIN_TEST_MEDIA}"
      "${CMAKE_BINARY_DIR}/test-artefacts/window.picture_number")
  set_tests_properties(window.picture_number PROPERTIES FIXTURES_REQUIRED "test_media;audio_server" TIMEOUT 600)
endif()

# The viewer widget end to end once more, in the OpenGL rendering mode (the
# mode is latched once per process; the registered run is the software one).
add_test(NAME viewer.viewerwidgetendtoend_gl
  COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/support/run_gui_test.sh" --xvfb
    $<TARGET_FILE:tst_viewer_viewerwidgetendtoend>)
set_tests_properties(viewer.viewerwidgetendtoend_gl PROPERTIES
  FIXTURES_REQUIRED test_media
  ENVIRONMENT "TESSARIN_TEST_MEDIA_DIR=${TESSARIN_TEST_MEDIA};TESSARIN_TEST_HARDWARE_RENDERING=1"
  TIMEOUT 600)

# The volume control on the engine: plays through the test server's null sink.
set_tests_properties(panels.volumeaudio PROPERTIES
  FIXTURES_REQUIRED "test_media;audio_server" RUN_SERIAL TRUE)

# The monitor panel once more, in the OpenGL rendering mode.
add_test(NAME window.monitorpanel_gl
  COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/support/run_gui_test.sh" --xvfb
    $<TARGET_FILE:tst_window_monitorpanel>)
set_tests_properties(window.monitorpanel_gl PROPERTIES
  FIXTURES_REQUIRED test_media
  ENVIRONMENT "TESSARIN_TEST_MEDIA_DIR=${TESSARIN_TEST_MEDIA};TESSARIN_TEST_HARDWARE_RENDERING=1"
  TIMEOUT 600)

# The step keys on the whole window once more, in the OpenGL rendering mode.
add_test(NAME window.stepkeys_gl
  COMMAND sh "${CMAKE_CURRENT_SOURCE_DIR}/support/run_gui_test.sh" --xvfb
    $<TARGET_FILE:tst_window_stepkeys>)
set_tests_properties(window.stepkeys_gl PROPERTIES
  FIXTURES_REQUIRED test_media
  ENVIRONMENT "TESSARIN_TEST_MEDIA_DIR=${TESSARIN_TEST_MEDIA};TESSARIN_TEST_HARDWARE_RENDERING=1"
  TIMEOUT 600)

# Tests that build the whole window listen on the default client API port:
# never two at once, or the second one's server cannot listen.
set_tests_properties(app.shell_checks panels.preferencesdialog window.sidebardock window.tessarinorvel
  window.mainwindowmenus window.tessarinx window.stepkeys window.stepkeys_gl window.startupshow
  PROPERTIES RESOURCE_LOCK client_api_default_port)

# The real player under the sanitizers: the OpenGL driver is unloaded at exit
# and LeakSanitizer cannot name what it still holds, so leak checking is off
# for these whole-program runs (every other sanitizer check stays on; the
# in-process window tests keep leak checking).
set_property(TEST app.shell_checks APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")
if(TEST remote.client_api)
  set_property(TEST remote.client_api APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")
endif()
foreach(whole_player_test IN ITEMS window.end_to_end window.picture_number app.stall_checks app.quit_handover)
  if(TEST ${whole_player_test})
    set_property(TEST ${whole_player_test} APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")
  endif()
endforeach()
# LeakSanitizer's exit-time scan has crashed in this test's process while the
# audio client's thread ran ("Tracer caught signal 11"); its leak check is off.
set_property(TEST panels.preferencesdialog APPEND PROPERTY ENVIRONMENT "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1")

# Tests whose checks depend on timing under load (label "timing"):
# scripts/repeat_gate.sh runs them again and again beside the rest of a suite.
set_tests_properties(media.audiooutput media.imagesequencedecoder viewer.viewerwidgetbars
  viewer.viewerwidgetendtoend window.playbackstrips PROPERTIES LABELS timing)
