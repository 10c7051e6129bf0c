# cmake/KelvoLayers.cmake: the layers, stated by the build. Sources include headers by their
# folder ("device/contract.h"), and a target sees a folder only when it links that folder's
# target: each layer's include path is a folder of its own in the build tree that holds
# nothing but a link to that one source folder. A header of a layer the target does not link,
# one above it above all, is then not found, and the compile stops (tests/compile/).
function(kelvo_layer target folder)
  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  if(NOT EXISTS ${root}/${folder})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
    kelvo_warnings(${target})
  endif()
endfunction()
