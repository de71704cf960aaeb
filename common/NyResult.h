#pragma once
// Result codes of the program. 0 is success; any other value is one of these
// or a platform error code passed through unchanged.
#include <cstdint>

constexpr uint32_t NY_SUCCESS = 0;
constexpr uint32_t NY_E_OUTOFMEMORY = 0xE0600002;     // out of memory, or no room in a fixed buffer
constexpr uint32_t NY_E_INVALID_DATA = 0xE0600003;    // a required object or derived value is missing or malformed
constexpr uint32_t NY_E_DEST_TOO_SMALL = 0xE0600004;  // a memory copy's destination is smaller than the data
constexpr uint32_t NY_E_BUFFER_TOO_SMALL = 0xE0600005;// the caller's buffer is too small (the needed size is returned)
constexpr uint32_t NY_E_INVALID_PARAM = 0xE0600007;   // a null or empty argument, an empty required attribute, an unknown keyword
constexpr uint32_t NY_E_NOT_FOUND = 0xE0600008;       // no such value or item; an action list that cannot be run
constexpr uint32_t NY_E_ABORTED = 0xE0603007;         // the progress callback aborted the run
constexpr uint32_t NY_E_ATTR_MISSING = 0xE0607003;    // a required attribute is missing from its element
constexpr uint32_t NY_E_XML_PARSE = 0xE0609000;       // the XML text did not parse
constexpr uint32_t NY_E_NO_TEMPLATE = 0xE0609001;     // an action's description template is missing
constexpr uint32_t NY_E_BAD_VERSION = 0xFFFFFFFF;     // the script's Version text does not parse
constexpr uint32_t NY_E_NOT_AN_ACTION = 0xFFFFFFFF;   // progress of a list child the factory does not know
constexpr uint32_t NY_E_FAIL = 0xE0FFFFFF;            // no usable temporary folder; not an administrator; an empty registry path component
