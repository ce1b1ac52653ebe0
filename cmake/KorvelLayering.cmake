# Dependencies point one way: apps -> core/widgets/mcp -> platform, and inside core
# archive -> catalog -> processing, with later subsystems above processing. Each layer is
# declared with the layers it may include; a check that runs at the start of every build reads
# every #include of every source file, quoted or angle-bracketed, and fails the build when a file
# includes from a layer that is not below its own, so the rule cannot rot.
#
# Included, this file defines korvel_layer() and korvel_enforce_layering(). Run with
# `cmake -DKORVEL_LAYERING_RULES=<file> -P KorvelLayering.cmake`, it is that check.

# --- The check (script mode) ---

if(CMAKE_SCRIPT_MODE_FILE AND DEFINED KORVEL_LAYERING_RULES)
  cmake_policy(VERSION 3.25)
  include(${KORVEL_LAYERING_RULES})

  # The declared layer a project path belongs to: the longest declared folder containing it.
  function(_korvel_owning_layer path result)
    set(best "")
    foreach(layer ${KORVEL_LAYERS})
      string(LENGTH "${layer}" length)
      string(LENGTH "${best}" best_length)
      if(path MATCHES "^${layer}/" AND length GREATER best_length)
        set(best ${layer})
      endif()
    endforeach()
    set(${result} "${best}" PARENT_SCOPE)
  endfunction()

  set(problems "")
  foreach(root ${KORVEL_LAYER_ROOTS})
    file(GLOB_RECURSE sources LIST_DIRECTORIES false RELATIVE ${KORVEL_SOURCE_DIR}
         ${KORVEL_SOURCE_DIR}/${root}/*.h ${KORVEL_SOURCE_DIR}/${root}/*.hpp ${KORVEL_SOURCE_DIR}/${root}/*.inl
         ${KORVEL_SOURCE_DIR}/${root}/*.cpp ${KORVEL_SOURCE_DIR}/${root}/*.cc)
    foreach(source ${sources})
      _korvel_owning_layer(${source} owner)
      if(owner STREQUAL "")
        list(APPEND problems "${source} is in no declared layer: declare its folder with korvel_layer().")
        continue()
      endif()
      file(STRINGS ${KORVEL_SOURCE_DIR}/${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"]")
      foreach(line ${includes})
        if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*[<\"]([^>\"]+)[>\"]")
          continue()
        endif()
        set(header ${CMAKE_MATCH_1})
        string(REGEX MATCH "^[^/]+" header_root "${header}")
        if(NOT header_root IN_LIST KORVEL_LAYER_ROOTS)
          continue()  # a system or third-party header
        endif()
        _korvel_owning_layer(${header} layer)
        if(layer STREQUAL "")
          list(APPEND problems "${source}: ${header} is in no declared layer.")
        elseif(NOT layer IN_LIST KORVEL_LAYER_ALLOWED_${owner})
          list(APPEND problems "${source}: ${owner} may not include ${header}, because ${layer} is not below ${owner}.")
        endif()
      endforeach()
    endforeach()
  endforeach()

  if(problems)
    list(JOIN problems "\n  " text)
    message(FATAL_ERROR "Includes break the layering:\n  ${text}")
  endif()
  return()
endif()

# --- Declaring the layers (module mode) ---

set(_KORVEL_LAYERING_SCRIPT ${CMAKE_CURRENT_LIST_FILE})
set_property(GLOBAL PROPERTY KORVEL_LAYERS "")

# korvel_layer(<folder> [USES <folder>...]): a layer (a folder relative to the source tree) and
# the layers right below it. What those may include, it may include too. A USES folder stands
# for every layer inside it (USES core: all of core's subsystems).
function(korvel_layer folder)
  cmake_parse_arguments(ARG "" "" "USES" ${ARGN})
  set_property(GLOBAL APPEND PROPERTY KORVEL_LAYERS ${folder})
  set_property(GLOBAL PROPERTY KORVEL_LAYER_USES_${folder} ${ARG_USES})
endfunction()

# korvel_enforce_layering(<target>): adds <target>, which checks the whole tree against the
# declared layers each time it is built. Make every library depend on it (add_dependencies on
# an interface target they all link is enough), so a build never compiles past a broken rule.
function(korvel_enforce_layering target)
  get_property(layers GLOBAL PROPERTY KORVEL_LAYERS)
  set(roots "")
  set(rules "set(KORVEL_SOURCE_DIR \"${PROJECT_SOURCE_DIR}\")\nset(KORVEL_LAYERS \"${layers}\")\n")

  foreach(layer ${layers})
    # Direct uses, each folder widened to the declared layers inside it.
    get_property(uses GLOBAL PROPERTY KORVEL_LAYER_USES_${layer})
    set(below_${layer} "")
    foreach(use ${uses})
      string(REGEX MATCH "^[^/]+" use_root "${use}")
      list(APPEND roots ${use_root})
      foreach(candidate ${layers})
        if(candidate STREQUAL use OR candidate MATCHES "^${use}/")
          list(APPEND below_${layer} ${candidate})
        endif()
      endforeach()
    endforeach()
    string(REGEX MATCH "^[^/]+" layer_root "${layer}")
    list(APPEND roots ${layer_root})
  endforeach()

  # Everything reachable downwards: follow the uses until nothing new turns up.
  foreach(layer ${layers})
    set(allowed_${layer} ${layer} ${below_${layer}})
    set(frontier ${below_${layer}})
    while(frontier)
      list(POP_FRONT frontier next)
      foreach(lower ${below_${next}})
        if(NOT lower IN_LIST allowed_${layer})
          list(APPEND allowed_${layer} ${lower})
          list(APPEND frontier ${lower})
        endif()
      endforeach()
    endwhile()
    string(APPEND rules "set(KORVEL_LAYER_ALLOWED_${layer} \"${allowed_${layer}}\")\n")
  endforeach()
  foreach(layer ${layers})
    foreach(lower ${below_${layer}})
      if(layer IN_LIST allowed_${lower})
        message(FATAL_ERROR "The layers ${layer} and ${lower} sit below each other.")
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES roots)
  string(APPEND rules "set(KORVEL_LAYER_ROOTS \"${roots}\")\n")

  set(rules_file ${PROJECT_BINARY_DIR}/korvel_layering_rules.cmake)
  file(WRITE ${rules_file} "${rules}")
  add_custom_target(${target}
    COMMAND ${CMAKE_COMMAND} -DKORVEL_LAYERING_RULES=${rules_file} -P ${_KORVEL_LAYERING_SCRIPT}
    COMMENT "Checking that every include follows the layers"
    VERBATIM)
endfunction()
