# Tests that need more than the defaults set in tests/CMakeLists.txt.
# Example: a test that plays sound needs the audio server fixture:
#   set_tests_properties(media.audiooutput PROPERTIES FIXTURES_REQUIRED "test_media;audio_server")
