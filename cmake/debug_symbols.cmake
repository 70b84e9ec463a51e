# Writes the debug-symbols archive of the package: the module and the tool as
# the build made them, unstripped, to read crash reports from the stripped
# ones the package installs.
#   cmake -DARCHIVE=DIR/NAME.tar.gz -DREADELF=readelf
#         -DFILES="usr/bin/vantorel=BUILT;..." -P debug_symbols.cmake
# The archive holds the folder NAME with each BUILT file at its installed
# path, and .build-id/XX/REST.debug pointing at it by its GNU build ID, the
# name under which gdb looks for debug files (set debug-file-directory to the
# unpacked folder). The stripped files keep the same build IDs.
foreach(required ARCHIVE READELF FILES)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "debug_symbols.cmake needs -D${required}=...")
  endif()
endforeach()

get_filename_component(dir ${ARCHIVE} DIRECTORY)
get_filename_component(name ${ARCHIVE} NAME)
string(REGEX REPLACE "\\.tar\\.gz$" "" name ${name})
set(staging ${dir}/${name})
file(REMOVE_RECURSE ${staging})

foreach(entry ${FILES})
  string(REPLACE "=" ";" entry ${entry})
  list(GET entry 0 installed)
  list(GET entry 1 built)
  get_filename_component(folder ${staging}/${installed} DIRECTORY)
  file(COPY ${built} DESTINATION ${folder})
  execute_process(COMMAND ${READELF} -n ${built} OUTPUT_VARIABLE notes
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0 OR NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
    message(FATAL_ERROR "${built} has no GNU build ID to find its symbols by")
  endif()
  file(MAKE_DIRECTORY ${staging}/.build-id/${CMAKE_MATCH_1})
  file(CREATE_LINK ../../${installed}
       ${staging}/.build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug SYMBOLIC)
endforeach()

# Sorted and dated by the newest file, so the same build gives the same bytes.
file(GLOB_RECURSE members LIST_DIRECTORIES false RELATIVE ${dir}
     ${staging}/* ${staging}/.build-id/*)
list(REMOVE_DUPLICATES members)
list(SORT members)
set(newest "")
foreach(entry ${FILES})
  string(REPLACE "=" ";" entry ${entry})
  list(GET entry 1 built)
  file(TIMESTAMP ${built} stamp "%Y-%m-%d %H:%M:%S" UTC)
  if(stamp STRGREATER newest)
    set(newest ${stamp})
  endif()
endforeach()
execute_process(
  COMMAND ${CMAKE_COMMAND} -E tar czf ${ARCHIVE}.part "--mtime=${newest} UTC" -- ${members}
  WORKING_DIRECTORY ${dir} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "could not write ${ARCHIVE}")
endif()
file(RENAME ${ARCHIVE}.part ${ARCHIVE})
file(REMOVE_RECURSE ${staging})
