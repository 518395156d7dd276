// The key record as a JSON object: the property names as keys, integers as numbers, texts as
// strings in which each byte is the character of the same code (0..255).
#pragma once

#include "keyrecord/ZarnPublicKey.h"

#include <nlohmann/json.hpp>

namespace zarn {

// Every published property plus ExpectedHashResult.
nlohmann::ordered_json KeyRecordToJson(const TZarnPublicKey& key);

// Sets the record properties found in `object` (any of the nine record fields, HashResult and
// ExpectedHashResult); keys that are absent leave their property as it is. Raises Exception with
// a text naming the key when a value has the wrong type, an integer is out of the 32-bit range, or
// a text holds a character above 255.
void KeyRecordFromJson(const nlohmann::json& object, TZarnPublicKey& key);

// A JSON string for an 8-bit text, and back (raises Exception naming `key` for a character above 255).
std::string Latin1ToJsonString(const std::string& text);
std::string JsonStringToLatin1(const nlohmann::json& value, const std::string& key);

} // namespace zarn
