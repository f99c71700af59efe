# The ThreadSanitizer configuration's tests: only the binaries whose tests run the sound engine's
# threads (audio thread, bank thread, the stream devices' I/O threads, the suspended-render timer, the
# game's sound system that starts them all, the music's waited unloads against the bank thread, its
# plays heard end to end beside the stream devices' I/O threads, a MIDI clip's media taken back by
# the game while the audio thread renders, and the engine's life gate with the bank calls Term drops,
# answered on the bank thread or the audio thread),
# with the libraries they link. `ThreadTests` builds them all.
find_package(GTest REQUIRED)

add_custom_target(ThreadTests)
foreach(folder SoundEngine StreamMgr SoundBanks SoundModulators SoundOutput SoundSources MusicEngine Audio)
  set(source ${CMAKE_SOURCE_DIR}/tests/${folder})
  if(EXISTS ${source}/CMakeLists.txt)
    add_subdirectory(${source} ${CMAKE_BINARY_DIR}/tests/${folder})
    get_property(binaries DIRECTORY ${source} PROPERTY BUILDSYSTEM_TARGETS)
    add_dependencies(ThreadTests ${binaries})
  endif()
endforeach()
