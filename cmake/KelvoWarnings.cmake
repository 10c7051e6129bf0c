# cmake/KelvoWarnings.cmake: the warnings of the project's own targets. They are errors only
# when KELVO_WERROR is on (the project's presets and CI), so that a user's plain build is not
# stopped by a warning that a newer compiler adds.
function(kelvo_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${KELVO_WERROR}>:/WX>)
    # The C stream and string functions (fopen, sscanf, getenv, strncpy) are standard C++ and
    # used with their sizes checked; MSVC's C4996 would ask for its own _s forms instead.
    target_compile_definitions(${target} PRIVATE _CRT_SECURE_NO_WARNINGS)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wshadow -Wformat=2
                           $<$<BOOL:${KELVO_WERROR}>:-Werror>)
  endif()
endfunction()
