# The library's include rule: lib/core is the foundation and includes nothing
# of the library above it (lib/system, lib/graphics, lib/sound, lib/image,
# lib/softrender); lib/image includes nothing of lib/graphics. Run from the
# build (target layout_check) or by hand:
#   cmake -DSOURCE_DIR=<tree> [-DSTAMP=<file>] -P tests/layout_check.cmake
# Fails naming every offending line.
if(NOT SOURCE_DIR)
  get_filename_component(SOURCE_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()

# check_folder(<folder> <forbidden folders, as a regex>)
set(violations "")
function(check_folder folder forbidden)
  file(GLOB files ${SOURCE_DIR}/${folder}/*.cpp ${SOURCE_DIR}/${folder}/*.h)
  foreach(file ${files})
    file(STRINGS ${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
    foreach(line ${includes})
      string(REGEX MATCH "[\"<]([^\">]*)[\">]" _ "${line}")
      set(target "${CMAKE_MATCH_1}")
      # Includes are written from the tree's root; one that climbs out of its
      # folder is resolved first.
      if(target MATCHES "^\\.\\./")
        get_filename_component(target "${SOURCE_DIR}/${folder}/${target}" ABSOLUTE)
        file(RELATIVE_PATH target ${SOURCE_DIR} ${target})
      endif()
      if(target MATCHES "^lib/(${forbidden})/")
        file(RELATIVE_PATH where ${SOURCE_DIR} ${file})
        list(APPEND violations "${where}: ${line}")
      endif()
    endforeach()
  endforeach()
  set(violations "${violations}" PARENT_SCOPE)
endfunction()

check_folder(lib/core "system|graphics|sound|image|softrender")
check_folder(lib/image "graphics")

if(violations)
  list(JOIN violations "\n  " text)
  message(FATAL_ERROR "layout: an include against the library's layering:\n  ${text}")
endif()
if(STAMP)
  file(TOUCH ${STAMP})
endif()
