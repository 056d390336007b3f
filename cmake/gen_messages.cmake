# Generates, from resources/messages.txt, the compiled-in message table
# (messages_generated.h, messages_table.cpp) and the Windows resources
# (messages.mc for windmc, version.rc for windres).
# Inputs: SOURCE (messages.txt), OUT (output directory), VERSION.
file(STRINGS "${SOURCE}" lines ENCODING UTF-8)
set(enum "")
set(rows "")
# windmc knows no code page for the neutral English 0x0009: the table is compiled under
# 0x0409 and the resource script files it under 0x0009 (see CMakeLists.txt).
set(mc "MessageIdTypedef=DWORD\nSeverityNames=(Error=0x3)\nFacilityNames=(General=0x001 Adb=0x011)\nLanguageNames=(English=0x0409:MSG00009)\n\n")
set(count 0)
set(description "")
foreach(line IN LISTS lines)
  if(line MATCHES "^#" OR line STREQUAL "")
    continue()
  endif()
  if(line MATCHES "^DESCRIPTION (.*)$")
    set(description "${CMAKE_MATCH_1}")
    continue()
  endif()
  if(NOT line MATCHES "^(0x[0-9A-F]+) ([A-Z_]+) (.*)$")
    message(FATAL_ERROR "bad message line: ${line}")
  endif()
  set(code "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  set(text "${CMAKE_MATCH_3}")
  string(REPLACE "\\" "\\\\" ctext "${text}")
  string(REPLACE "\"" "\\\"" ctext "${ctext}")
  string(APPEND enum "    ${name} = ${code},\n")
  string(APPEND rows "    {${code}u, \"${name}\", \"${ctext}\"},  // ${name}\n")
  string(SUBSTRING "${code}" 6 4 number)
  string(SUBSTRING "${code}" 3 3 facility)
  if(facility STREQUAL "001")
    set(facilityName General)
  else()
    set(facilityName Adb)
  endif()
  string(APPEND mc "MessageId=0x${number}\nSeverity=Error\nFacility=${facilityName}\nSymbolicName=${name}\nLanguage=English\n${text}\n.\n\n")
  math(EXPR count "${count} + 1")
endforeach()

file(WRITE "${OUT}/messages_generated.h.tmp"
"// Generated from resources/messages.txt: the fatal error codes and their table.
#pragma once
#include <cstdint>

enum SyncErrorCode : uint32_t {
${enum}};

struct MessageRow {
    uint32_t code;
    const char* name;
    const char* text;   // without line end
};

constexpr int kMessageCount = ${count};
extern const MessageRow messageTable[kMessageCount];
extern const char programDescription[];
extern const char programVersion[];
")
file(WRITE "${OUT}/messages_table.cpp.tmp"
"// Generated from resources/messages.txt: the compiled-in message table.
#include \"messages_generated.h\"

const MessageRow messageTable[kMessageCount] = {
${rows}};

const char programDescription[] = \"${description}\";
const char programVersion[] = \"${VERSION}\";
")
# CR LF line ends: windmc keeps them, so every entry ends in "\r\n" as FormatMessage expects.
string(REPLACE "\n" "\r\n" mc "${mc}")
file(WRITE "${OUT}/messages.mc.tmp" "${mc}")
string(REPLACE "." "," vcomma "${VERSION}")
file(WRITE "${OUT}/version.rc.tmp"
"// Generated from resources/messages.txt: the version record and the message table.
#include <winver.h>
1 VERSIONINFO
FILEVERSION ${vcomma},0
PRODUCTVERSION ${vcomma},0
FILEOS VOS_NT_WINDOWS32
FILETYPE VFT_APP
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904E4\"
    BEGIN
      VALUE \"FileDescription\", \"${description}\"
      VALUE \"ProductName\", \"tandrix\"
      VALUE \"FileVersion\", \"${VERSION}\"
      VALUE \"OriginalFilename\", \"tandrix.exe\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1252
  END
END
")
foreach(f messages_generated.h messages_table.cpp messages.mc version.rc)
  file(COPY_FILE "${OUT}/${f}.tmp" "${OUT}/${f}" ONLY_IF_DIFFERENT)
  file(REMOVE "${OUT}/${f}.tmp")
endforeach()
