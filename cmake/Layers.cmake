# The layers and their rule: each library of the product uses only libraries of
# layers below its own. Bottom up:
#   1 platform   the seams and the real clock          (platform/*.h)
#   2 platform   their implementations                 (platform/win32, rtmidi, sim)
#   3 texts      every text the user reads             (texts/)
#   4 image      the firmware image                    (image/)
#   5 progress   the progress window's record           (progress/)
#   6 midi       the MIDI transport                     (midi/)
#   7 device     the instrument protocol                (device/)
#   8 emulator   the virtual Tarvonic and its world     (emulator/)
#   9 ui         the pages' portable rules               (ui/ports_page_model)
#   9 session    what the command line and the page share for a run:
#                transcript, image report, dry-run world (session/)
#  10 ui         the Win32 pages and progress view       (ui/)
#  11 programs   the Windows shell, the command line    (app/, cli/)
#
# The build enforces the rule twice. A library sees only the headers of the
# libraries it links: kf_layer gives it an include root of its own in the
# build tree, holding one forwarding header per header of its folder, and no
# library puts the source root on its include path. So including a header of
# a layer above does not compile ("No such file or directory"). And linking a
# library of a layer above, or of the same layer, stops the configuration
# (kf_check_layers, at the end of the top-level CMakeLists.txt).

# kf_layer(<target> <layer> <folder>): registers <target> in <layer> and
# exposes the headers of <folder> (not of its subfolders, which are libraries
# of their own) under their source paths, e.g. "midi/listeners.h".
function(kf_layer target layer folder)
  file(GLOB headers RELATIVE ${PROJECT_SOURCE_DIR}/${folder} CONFIGURE_DEPENDS
       ${PROJECT_SOURCE_DIR}/${folder}/*.h)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  foreach(header ${headers})
    file(CONFIGURE OUTPUT ${root}/${folder}/${header}
         CONTENT "#include \"${PROJECT_SOURCE_DIR}/${folder}/${header}\"\n")
  endforeach()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE ${root})
  else()
    target_include_directories(${target} PUBLIC ${root})
  endif()
  set_target_properties(${target} PROPERTIES KF_LAYER ${layer})
  set_property(GLOBAL APPEND PROPERTY KF_LAYERED_TARGETS ${target})
endfunction()

function(kf_check_layers)
  get_property(targets GLOBAL PROPERTY KF_LAYERED_TARGETS)
  foreach(target ${targets})
    get_target_property(layer ${target} KF_LAYER)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(deps ${target} INTERFACE_LINK_LIBRARIES)
    else()
      get_target_property(deps ${target} LINK_LIBRARIES)
    endif()
    foreach(dep IN LISTS deps)
      if(NOT TARGET ${dep})
        continue()
      endif()
      get_target_property(dep_layer ${dep} KF_LAYER)
      if(dep_layer AND NOT dep_layer LESS layer)
        message(FATAL_ERROR "${target} (layer ${layer}) links ${dep} (layer ${dep_layer}): "
                            "a library uses only the layers below its own (cmake/Layers.cmake)")
      endif()
    endforeach()
  endforeach()
endfunction()
