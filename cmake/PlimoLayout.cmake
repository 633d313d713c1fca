# The installed layout, and the build tree that mirrors it.
#
# Every directory comes from GNUInstallDirs. The programs find each other,
# their libraries and the plug-ins through paths relative to their own file,
# so one tree works wherever it is put: the build tree, a prefix, /usr with a
# multiarch library directory, or a package unpacked into any folder.
#
# Sets:
#   PLIMO_PLUGIN_INSTALL_DIR   <libdir>/zua, relative to the prefix
#   PLIMO_BUILD_BINDIR, PLIMO_BUILD_LIBDIR, PLIMO_BUILD_PLUGINDIR,
#   PLIMO_BUILD_MANDIR
#                              the same directories inside the build tree
#   PLIMO_PROGRAM_RPATH        run path of a program in <bindir>
#   PLIMO_PLUGIN_RPATH         run path of a plug-in in <libdir>/zua
#   PLIMO_LIBDIR_TO_BINDIR     <bindir> seen from <libdir> (the service host)
#   PLIMO_LIBDIR_TO_PLUGINDIR  <libdir>/zua seen from <libdir> (the data manager)
include(GNUInstallDirs)

set(PLIMO_PLUGIN_INSTALL_DIR ${CMAKE_INSTALL_LIBDIR}/zua)
cmake_path(ABSOLUTE_PATH PLIMO_PLUGIN_INSTALL_DIR BASE_DIRECTORY ${CMAKE_INSTALL_PREFIX}
           NORMALIZE OUTPUT_VARIABLE PLIMO_FULL_PLUGINDIR)

# plimo_relative(<out> <from> <to>): <to> seen from <from>, "." when equal.
function(plimo_relative out from to)
  file(RELATIVE_PATH relative ${from} ${to})
  string(REGEX REPLACE "/$" "" relative "${relative}")
  if(relative STREQUAL "")
    set(relative ".")
  endif()
  set(${out} ${relative} PARENT_SCOPE)
endfunction()

# plimo_build_dir(<out> <full install dir>): its place in the build tree. A
# directory outside the prefix could not move with the tree, so it is refused.
function(plimo_build_dir out full)
  plimo_relative(inside ${CMAKE_INSTALL_PREFIX} ${full})
  if(inside MATCHES "^\\.\\.(/|$)" OR IS_ABSOLUTE "${inside}")
    message(FATAL_ERROR "${full} lies outside the prefix ${CMAKE_INSTALL_PREFIX}; "
                        "the programs find each other only inside one tree")
  endif()
  cmake_path(APPEND CMAKE_BINARY_DIR ${inside} OUTPUT_VARIABLE dir)
  cmake_path(NORMAL_PATH dir)
  string(REGEX REPLACE "/$" "" dir "${dir}")
  set(${out} ${dir} PARENT_SCOPE)
endfunction()

plimo_build_dir(PLIMO_BUILD_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
plimo_build_dir(PLIMO_BUILD_LIBDIR ${CMAKE_INSTALL_FULL_LIBDIR})
plimo_build_dir(PLIMO_BUILD_PLUGINDIR ${PLIMO_FULL_PLUGINDIR})
plimo_build_dir(PLIMO_BUILD_MANDIR ${CMAKE_INSTALL_FULL_MANDIR})

plimo_relative(bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
plimo_relative(plugin_to_lib ${PLIMO_FULL_PLUGINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
plimo_relative(PLIMO_LIBDIR_TO_BINDIR ${CMAKE_INSTALL_FULL_LIBDIR} ${CMAKE_INSTALL_FULL_BINDIR})
plimo_relative(PLIMO_LIBDIR_TO_PLUGINDIR ${CMAKE_INSTALL_FULL_LIBDIR} ${PLIMO_FULL_PLUGINDIR})
set(PLIMO_PROGRAM_RPATH "$ORIGIN/${bin_to_lib}")
set(PLIMO_PLUGIN_RPATH "$ORIGIN/${plugin_to_lib}")
