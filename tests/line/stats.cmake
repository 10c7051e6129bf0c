# tests/line/stats.cmake: the line's statistics against figures worked out by hand: the pure
# functions (line_stats_tests), and yield, pareto and capability from a hand-made store
# against SQLite and PostgreSQL (line_stats_store_tests, on the store tests' throwaway server:
# tests/line/CMakeLists.txt).
add_executable(line_stats_tests ${CMAKE_CURRENT_LIST_DIR}/stats_test.cc)
target_link_libraries(line_stats_tests PRIVATE line_stats GTest::gtest GTest::gtest_main)
kelvo_test_program(line_stats_tests unit)

if(TARGET line_core)
  set(stats_pg_script ${CMAKE_CURRENT_LIST_DIR}/pg_server.sh)
  string(MD5 stats_pg_tag ${CMAKE_BINARY_DIR})
  add_executable(line_stats_store_tests ${CMAKE_CURRENT_LIST_DIR}/stats_store_test.cc
                 ${CMAKE_CURRENT_LIST_DIR}/line_test_support.cc ${CMAKE_CURRENT_LIST_DIR}/../support/temp_files.cc)
  target_link_libraries(line_stats_store_tests PRIVATE line_core GTest::gtest GTest::gtest_main Threads::Threads)
  target_include_directories(line_stats_store_tests PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_definitions(line_stats_store_tests PRIVATE
      KELVO_PG_SERVER_SCRIPT="${stats_pg_script}"
      KELVO_LINE_TEST_DATA="${CMAKE_CURRENT_LIST_DIR}/data"
      KELVOTEST_LINE_PATH="$<TARGET_FILE:kelvotest-line>")
  kelvo_warnings(line_stats_store_tests)
  gtest_discover_tests(line_stats_store_tests TEST_FILTER "-*PostgreSQL*"
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} DISCOVERY_MODE POST_BUILD
                       PROPERTIES LABELS unit DISCOVERY_TIMEOUT 60)
  gtest_discover_tests(line_stats_store_tests TEST_FILTER "*PostgreSQL*"
                       WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR} DISCOVERY_MODE POST_BUILD
                       PROPERTIES LABELS postgres FIXTURES_REQUIRED line_postgres
                                  ENVIRONMENT KELVO_LINE_PG_DIR=/tmp/kelvo-line-pg-${stats_pg_tag} DISCOVERY_TIMEOUT 60)
endif()

# The line report in headless chromium (label `browser`), as report.html is tested.
if(TARGET kelvotest-line)
  find_program(KELVO_CHROMIUM NAMES chromium chromium-browser google-chrome)
  add_test(NAME LineBrowser.ReportRendersEveryPlotWithNoConsoleMessages
           COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/report_browser_test.sh $<TARGET_FILE:kelvotest-line>
                   "${KELVO_CHROMIUM}" ${CMAKE_CURRENT_LIST_DIR}/data ${CMAKE_CURRENT_BINARY_DIR}/line-browser)
  set_tests_properties(LineBrowser.ReportRendersEveryPlotWithNoConsoleMessages PROPERTIES
                       LABELS browser SKIP_RETURN_CODE 77 TIMEOUT 180)
endif()
