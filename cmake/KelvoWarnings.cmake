# cmake/KelvoWarnings.cmake: the warnings of the project's own targets. They are errors only
# when KELVO_WERROR is on (the project's presets and CI), so that a user's plain build is not
# stopped by a warning that a newer compiler adds.
function(kelvo_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${KELVO_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wformat=2
                           $<$<BOOL:${KELVO_WERROR}>:-Werror>)
  endif()
endfunction()
