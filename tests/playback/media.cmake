# Windows Media files for the playback and frame extraction tests, made with ffmpeg when the
# tests run (fixture playback_media) into ZELVORA_PLAYBACK_MEDIA_DIR, in the 32-bit build tree (set
# at the top; the 64-bit programs read the same files); nothing of it is kept in the sources.
add_test(NAME playback_media
         COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/make-media.sh ${ZELVORA_PLAYBACK_MEDIA_DIR})
set_tests_properties(playback_media PROPERTIES FIXTURES_SETUP playback_media)
foreach(arch IN LISTS ZELVORA_TEST_ARCHS)
  set_property(TEST unit${ZELVORA_SUFFIX_${arch}} component${ZELVORA_SUFFIX_${arch}}
               APPEND PROPERTY FIXTURES_REQUIRED playback_media)
endforeach()

# The test sources that read the files learn where they are (a path of the build machine,
# reached under Wine through drive Z:).
set_property(SOURCE unit/fileplayer_test.cpp dll/player_test.cpp
             APPEND PROPERTY COMPILE_DEFINITIONS ZELVORA_PLAYBACK_MEDIA="${ZELVORA_PLAYBACK_MEDIA_DIR}")
