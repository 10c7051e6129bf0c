# tests/line/stats.cmake: the line's statistics against figures worked out by hand.
add_executable(line_stats_tests ${CMAKE_CURRENT_LIST_DIR}/stats_test.cc)
target_link_libraries(line_stats_tests PRIVATE line_stats GTest::gtest GTest::gtest_main)
kelvo_test_program(line_stats_tests unit)
