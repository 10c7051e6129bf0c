# cmake/WineServer.cmake: keeps wine's server and its helper processes up for a whole run of
# Windows programs (ctest's Windows cases, the parity check).
#   cmake -DWINE=path -DWINESERVER=path -DMARKER=file -DACTION=start|stop -P WineServer.cmake
#
# By default wine's server ends its helper processes (services, device drivers) whenever no
# Windows program runs, and the next program starts them again. A program that starts in that
# moment waits seconds for them or loses its connection ("wine client error … Connection reset
# by peer") and fails before it has run; and the helpers it starts inherit its standard output,
# so whoever reads that output (ctest) waits until they end. `start` starts a server that stays
# up ("-p") for the prefix in WINEPREFIX, once the server of the cases' discovery has gone,
# and leaves MARKER behind; with that server or one that still runs, it brings the helpers up
# with no descriptor of ours. `stop` ends the server only if `start` started it, so a server
# the user keeps is left alone.
if(NOT WINE OR NOT WINESERVER OR NOT MARKER OR NOT ACTION MATCHES "^(start|stop)$")
  message(FATAL_ERROR "usage: cmake -DWINE=path -DWINESERVER=path -DMARKER=file -DACTION=start|stop -P ${CMAKE_CURRENT_LIST_FILE}")
endif()

# The server and the helpers go on running after the command that started them: they are given
# no pipe of ours, or this script and ctest would wait for them to close it.
set(quiet INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
if(ACTION STREQUAL "start")
  file(REMOVE ${MARKER})
  execute_process(COMMAND ${WINESERVER} -p RESULT_VARIABLE started ${quiet})
  if(NOT started EQUAL 0)
    # A server runs already: the one that answered the discovery ends a few seconds after its
    # last program; one that a wine program of the user keeps up is used as it is.
    execute_process(COMMAND ${WINESERVER} -w TIMEOUT 30 ${quiet})
    execute_process(COMMAND ${WINESERVER} -p RESULT_VARIABLE started ${quiet})
  endif()
  if(started EQUAL 0)
    file(WRITE ${MARKER} "wine's server was started to stay up for this run\n")
  else()
    message(WARNING "Another wine program keeps wine's server of this prefix up and the run "
                    "uses it. Unless that server was started with `wineserver -p`, a case "
                    "that starts while it restarts its helpers may fail.")
  endif()
  execute_process(COMMAND ${WINE} cmd /c exit RESULT_VARIABLE helpers TIMEOUT 120 ${quiet})
  if(NOT helpers EQUAL 0)
    message(FATAL_ERROR "wine could not start a program in WINEPREFIX (${helpers})")
  endif()
elseif(EXISTS ${MARKER})
  execute_process(COMMAND ${WINESERVER} -k ${quiet})
  file(REMOVE ${MARKER})
endif()
