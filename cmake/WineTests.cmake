# cmake/WineTests.cmake: included by each test folder that runs Windows programs under wine.
# Sets KELVO_TEST_FIXTURES to what a case lists in its properties so that it runs while one
# wine server stays up for the whole ctest run (cmake/WineServer.cmake); the cases that start
# and stop that server are registered once, by the first folder that includes this file.
set(KELVO_TEST_FIXTURES "")
if(NOT (CMAKE_CROSSCOMPILING AND CMAKE_CROSSCOMPILING_EMULATOR))
  return()
endif()
get_filename_component(wine_dir ${CMAKE_CROSSCOMPILING_EMULATOR} DIRECTORY)
find_program(KELVO_WINESERVER NAMES wineserver wineserver64 HINTS ${wine_dir} /usr/lib/wine)
if(NOT KELVO_WINESERVER)
  message(WARNING "wineserver not found: the Windows cases run without a server kept up for "
                  "the run, and some may fail while wine restarts its helpers")
  return()
endif()
get_property(registered GLOBAL PROPERTY KELVO_WINE_SERVER_CASES)
if(NOT registered)
  set_property(GLOBAL PROPERTY KELVO_WINE_SERVER_CASES ON)
  foreach(action start stop)
    add_test(NAME WineServer.${action}
             COMMAND ${CMAKE_COMMAND} -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
                     -DWINESERVER=${KELVO_WINESERVER} -DACTION=${action}
                     -DMARKER=${CMAKE_BINARY_DIR}/wineserver.started
                     -P ${CMAKE_SOURCE_DIR}/cmake/WineServer.cmake)
  endforeach()
  set_tests_properties(WineServer.start PROPERTIES FIXTURES_SETUP wine_server)
  set_tests_properties(WineServer.stop PROPERTIES FIXTURES_CLEANUP wine_server)
endif()
set(KELVO_TEST_FIXTURES FIXTURES_REQUIRED wine_server)
