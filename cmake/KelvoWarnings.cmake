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

# kelvo_build_machine_program(OUTPUT SOURCE [DEPENDS ...]): a generator that runs during the
# build, so it is compiled with the build machine's own compiler even when cross-compiling,
# with the same warnings as the project's targets.
function(kelvo_build_machine_program output source)
  find_program(KELVO_HOST_CXX NAMES c++ g++ clang++ REQUIRED
               DOC "The build machine's C++ compiler, for the generators run during the build")
  set(warnings -Wall -Wextra -Wshadow -Wformat=2)
  if(KELVO_WERROR)
    list(APPEND warnings -Werror)
  endif()
  get_filename_component(name ${output} NAME)
  get_filename_component(folder ${output} DIRECTORY)
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
                     COMMAND ${KELVO_HOST_CXX} -std=c++20 -O1 ${warnings} -I${CMAKE_SOURCE_DIR}
                             -o ${output} ${source}
                     DEPENDS ${source} ${ARGN}
                     COMMENT "Building ${name} for the build machine" VERBATIM)
endfunction()
