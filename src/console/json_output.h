// The documents of "-o json": the values the SHOW commands display, decoded,
// as JSON (docs/json-output.md is the schema). The builders here only turn
// what has been read into values; reading, and deciding what fails, stays
// with the commands, which print a document only once it is complete.
//
// Text that comes from files and from the configuration (file names, flags,
// history fields) is taken as UTF-8. A text that is not valid UTF-8 appears
// with every byte outside a valid sequence replaced by U+FFFD, and beside it
// a member of the same name with "_base64" appended holds the original bytes
// in base64 (RFC 4648, with padding): the bytes come back exactly, and every
// JSON parser reads the document. A text with a NUL byte keeps it (\u0000)
// and also gets the "_base64" member, for readers that stop at a NUL.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "trace/trace_shared_memory.h"

namespace NEBRIX {

struct TraceFlags;

// Sets object[key] to `bytes` as above, and object[key + "_base64"] when
// they are not valid UTF-8 or hold a NUL.
void putText(nlohmann::json& object, const std::string& key, const std::string& bytes);

// Every setting of a flags string: booleans for the on/off settings, numbers
// or null for the values.
nlohmann::json settingsJson(const TraceFlags& flags);
// Sets "flags" (the string as stored) and "settings", which is null for the
// marker "R" of a part: that process follows the configuration.
void putFlags(nlohmann::json& object, const std::string& flags);

// The header of an attached trace shared-memory file: update count, total
// size, number of parts and version.
nlohmann::json sharedMemoryHeaderJson(const TraceSharedMemory& sharedMemory);
// The used parts in slot order: pid, read count, flags and settings.
nlohmann::json partsJson(TraceSharedMemory& sharedMemory);

// One record of the usage history (120 bytes): its time stamp in ISO 8601
// with the UTC offset, user, process id and action.
nlohmann::json historyEntryJson(const char* record);

// Writes the document and a line end on standard output. Never throws on
// text: whatever reaches it has been made valid above.
void printJson(const nlohmann::json& document);

}  // namespace NEBRIX
