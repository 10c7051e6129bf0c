# line/stats.cmake: the line's statistics as a library of their own, pure functions with no
# database: capability, yield and the failure Pareto. The store's queries feed them.
add_library(line_stats STATIC ${CMAKE_CURRENT_LIST_DIR}/capability.cc
            ${CMAKE_CURRENT_LIST_DIR}/yield.cc ${CMAKE_CURRENT_LIST_DIR}/pareto.cc)
kelvo_layer(line_stats line)
