# line/stats.cmake: the line's statistics. line_stats holds the pure functions, with no
# database: capability, yield and the failure Pareto. Their queries (stats_query.cc) and the
# commands (*_command.cc, found by line/CMakeLists.txt) are part of line_core, on the store.
add_library(line_stats STATIC ${CMAKE_CURRENT_LIST_DIR}/capability.cc
            ${CMAKE_CURRENT_LIST_DIR}/yield.cc ${CMAKE_CURRENT_LIST_DIR}/pareto.cc
            ${CMAKE_CURRENT_LIST_DIR}/control_chart.cc)
kelvo_layer(line_stats line)
target_sources(line_core PRIVATE ${CMAKE_CURRENT_LIST_DIR}/stats_query.cc ${CMAKE_CURRENT_LIST_DIR}/report_html.cc)
# Capability reads the values with limits through SQLite's own interface (stats_query.cc).
find_library(KELVO_SQLITE3 sqlite3 REQUIRED)
target_link_libraries(line_core PUBLIC line_stats ${KELVO_SQLITE3})
