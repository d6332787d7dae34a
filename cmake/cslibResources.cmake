# cslib_add_resources(<target> <description file>)
#
# Builds the resources of a description file into a module (a shared library),
# where CSLoadString and CSFindResource find them once the module is loaded with
# CSLoadLibrary. The description is read line by line:
#
#   # a comment; blank lines are ignored
#   STRING <id> "<text>"             string <id> (0 to 65535); <text> is a C string
#                                    literal: \n, \t, \", \\ and \x41 escapes work
#   BINARY <type> <name> <file>      the bytes of <file> (relative to the
#                                    description) as resource <name> of <type>;
#                                    type and name are letters, digits and _ . $ -,
#                                    or #<number> (0 to 65535)
#
# The generated C++ file is compiled into the target and exports one symbol,
# cslib_resource_table. It is regenerated when the description or a file changes.
# Run as a script (cmake -P) it is the generator itself.
include_guard(GLOBAL)
cmake_policy(SET CMP0057 NEW)  # if(... IN_LIST ...), here and in script mode

# Parses the description; sets <prefix>_STRING_IDS, _STRING_TEXTS (C literals),
# _BINARY_TYPES, _BINARY_NAMES and _BINARY_FILES (absolute paths). A line that
# is not understood stops with an error naming it.
function(_cslib_parse_resources description prefix)
  get_filename_component(base "${description}" DIRECTORY)
  file(READ "${description}" content)
  # Semicolons and brackets would upset CMake's lists: carry them as control
  # characters while the text is split into lines.
  string(ASCII 1 semicolon)
  string(ASCII 2 open)
  string(ASCII 3 close)
  string(REPLACE ";" "${semicolon}" content "${content}")
  string(REPLACE "[" "${open}" content "${content}")
  string(REPLACE "]" "${close}" content "${content}")
  string(REPLACE "\r" "" content "${content}")
  string(REPLACE "\n" ";" lines "${content}")
  set(ids "")
  set(texts "")
  set(types "")
  set(names "")
  set(files "")
  set(keys "")
  set(number 0)
  set(token "([A-Za-z0-9_.$-]+|#[0-9]+)")
  foreach(line IN LISTS lines)
    math(EXPR number "${number} + 1")
    string(REPLACE "${semicolon}" ";" line "${line}")
    string(REPLACE "${open}" "[" line "${line}")
    string(REPLACE "${close}" "]" line "${line}")
    if(line MATCHES "^[ \t]*(#.*)?$")
      continue()
    elseif(line MATCHES "^[ \t]*STRING[ \t]+([0-9]+)[ \t]+(\"([^\"\\\\]|\\\\.)*\")[ \t]*$")
      set(id "${CMAKE_MATCH_1}")
      set(text "${CMAKE_MATCH_2}")
      if(id GREATER 65535)
        message(FATAL_ERROR "${description}:${number}: string id ${id} is above 65535")
      endif()
      math(EXPR id "${id}")  # drops leading zeros
      if(id IN_LIST ids)
        message(FATAL_ERROR "${description}:${number}: string ${id} is given twice")
      endif()
      list(APPEND ids "${id}")
      # Kept as a list of literals: protect their own semicolons and brackets.
      string(REPLACE ";" "${semicolon}" text "${text}")
      string(REPLACE "[" "${open}" text "${text}")
      string(REPLACE "]" "${close}" text "${text}")
      list(APPEND texts "${text}")
    elseif(line MATCHES "^[ \t]*BINARY[ \t]+${token}[ \t]+${token}[ \t]+(.*[^ \t])[ \t]*$")
      set(type "${CMAKE_MATCH_1}")
      set(name "${CMAKE_MATCH_2}")
      set(file "${CMAKE_MATCH_3}")
      foreach(part type name)
        if(${part} MATCHES "^#([0-9]+)$" AND CMAKE_MATCH_1 GREATER 65535)
          message(FATAL_ERROR "${description}:${number}: ${${part}} is above #65535")
        endif()
      endforeach()
      string(TOUPPER "${type}/${name}" key)
      if(key IN_LIST keys)
        message(FATAL_ERROR "${description}:${number}: resource ${type} ${name} is given twice")
      endif()
      list(APPEND keys "${key}")
      get_filename_component(file "${file}" ABSOLUTE BASE_DIR "${base}")
      if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
        message(FATAL_ERROR "${description}:${number}: no file ${file}")
      endif()
      list(APPEND types "${type}")
      list(APPEND names "${name}")
      list(APPEND files "${file}")
    else()
      message(FATAL_ERROR "${description}:${number}: not understood: ${line}")
    endif()
  endforeach()
  set(${prefix}_STRING_IDS "${ids}" PARENT_SCOPE)
  set(${prefix}_STRING_TEXTS "${texts}" PARENT_SCOPE)
  set(${prefix}_BINARY_TYPES "${types}" PARENT_SCOPE)
  set(${prefix}_BINARY_NAMES "${names}" PARENT_SCOPE)
  set(${prefix}_BINARY_FILES "${files}" PARENT_SCOPE)
endfunction()

# Writes the C++ source holding the resources of `description` to `output`.
function(_cslib_generate_resources description output)
  _cslib_parse_resources("${description}" rc)
  string(ASCII 1 semicolon)
  string(ASCII 2 open)
  string(ASCII 3 close)
  set(data "")
  set(entries "")
  set(count 0)
  set(index 0)
  foreach(id IN LISTS rc_STRING_IDS)
    list(GET rc_STRING_TEXTS ${index} text)
    string(REPLACE "${semicolon}" ";" text "${text}")
    string(REPLACE "${open}" "[" text "${text}")
    string(REPLACE "${close}" "]" text "${text}")
    string(APPEND data "const char s${index}[] = ${text};\n")
    string(APPEND entries "    {1u, ${id}u, nullptr, nullptr, "
                          "reinterpret_cast<const unsigned char*>(s${index}), sizeof s${index} - 1},\n")
    math(EXPR index "${index} + 1")
    math(EXPR count "${count} + 1")
  endforeach()
  set(index 0)
  foreach(file IN LISTS rc_BINARY_FILES)
    list(GET rc_BINARY_TYPES ${index} type)
    list(GET rc_BINARY_NAMES ${index} name)
    file(READ "${file}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REPEAT "0x..," 16 line)
    string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
    # One zero byte after the data: never an empty array, and text ends in a zero.
    string(APPEND data "const unsigned char b${index}[] = {\n    ${bytes}0x00};\n")
    string(APPEND entries "    {2u, 0u, \"${type}\", \"${name}\", b${index}, ${size}ull},\n")
    math(EXPR index "${index} + 1")
    math(EXPR count "${count} + 1")
  endforeach()
  if(count EQUAL 0)
    set(table "const Entry* const entries = nullptr;\n")
  else()
    set(table "const Entry entries[] = {\n${entries}};\n")
  endif()
  file(WRITE "${output}.tmp"
"// Generated by cslib_add_resources from ${description}. Do not edit.
namespace cslib_resources {
namespace {
struct Entry {
  unsigned int kind;
  unsigned int id;
  const char* type;
  const char* name;
  const unsigned char* data;
  unsigned long long size;
};
${data}${table}}  // namespace
struct Table {
  unsigned int magic;
  unsigned int version;
  unsigned long long count;
  const void* entries;
};
}  // namespace cslib_resources

extern \"C\" {
extern __attribute__((visibility(\"default\"))) const cslib_resources::Table cslib_resource_table;
}
const cslib_resources::Table cslib_resource_table = {0x43535253u, 1u, ${count}ull,
                                                     cslib_resources::entries};
")
  file(RENAME "${output}.tmp" "${output}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  if(DEFINED CSLIB_RC_DESCRIPTION AND DEFINED CSLIB_RC_OUTPUT)
    _cslib_generate_resources("${CSLIB_RC_DESCRIPTION}" "${CSLIB_RC_OUTPUT}")
  endif()
  return()
endif()

set_property(GLOBAL PROPERTY CSLIB_RESOURCES_SCRIPT "${CMAKE_CURRENT_LIST_FILE}")

function(cslib_add_resources target description)
  if(NOT TARGET ${target})
    message(FATAL_ERROR "cslib_add_resources: no target ${target}")
  endif()
  get_target_property(done ${target} CSLIB_RESOURCES)
  if(done)
    message(FATAL_ERROR "cslib_add_resources: ${target} has its resources already (${done})")
  endif()
  get_filename_component(description "${description}" ABSOLUTE
                         BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  # Read now to know the files the generated source depends on, and to report a
  # faulty description when the project is configured.
  _cslib_parse_resources("${description}" rc)
  get_property(script GLOBAL PROPERTY CSLIB_RESOURCES_SCRIPT)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
  add_custom_command(OUTPUT "${output}"
    COMMAND "${CMAKE_COMMAND}" "-DCSLIB_RC_DESCRIPTION=${description}"
            "-DCSLIB_RC_OUTPUT=${output}" -P "${script}"
    DEPENDS "${description}" ${rc_BINARY_FILES} "${script}"
    COMMENT "Building the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${output}")
  set_target_properties(${target} PROPERTIES CSLIB_RESOURCES "${description}")
  # A BINARY line added to the description brings a new file to depend on.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${description}")
endfunction()
