#include "cli/KeyRecordJson.h"

#include "platform/Errors.h"
#include "platform/TextEncoding.h"

#include <cstdint>
#include <functional>

namespace zarn {

namespace {

using TextSetter = void (TZarnPublicKey::*)(const std::string&);
using IntegerSetter = void (TZarnPublicKey::*)(std::int32_t);

const std::pair<const char*, TextSetter> kTextProperties[] = {
    {"PublicKeyOwnerId", &TZarnPublicKey::SetPublicKeyOwnerId},
    {"PublicKeyExpDate", &TZarnPublicKey::SetPublicKeyExpDate},
    {"PublicKeyModulus", &TZarnPublicKey::SetPublicKeyModulus},
    {"PublicKeyExponent", &TZarnPublicKey::SetPublicKeyExponent},
    {"HashResult", &TZarnPublicKey::SetHashResult},
    {"ExpectedHashResult", &TZarnPublicKey::SetExpectedHashResult},
};

const std::pair<const char*, IntegerSetter> kIntegerProperties[] = {
    {"PublicKeyIndex", &TZarnPublicKey::SetPublicKeyIndex},
    {"HashAlgorithmIndicator", &TZarnPublicKey::SetHashAlgorithmIndicator},
    {"PublicKeyAlgorithmIndicator", &TZarnPublicKey::SetPublicKeyAlgorithmIndicator},
    {"PublicKeyModulusLength", &TZarnPublicKey::SetPublicKeyModulusLength},
    {"PublicKeyExponentLength", &TZarnPublicKey::SetPublicKeyExponentLength},
};

std::int32_t JsonInteger(const nlohmann::json& value, const std::string& key) {
    if (!value.is_number_integer())
        throw Exception("JSON key \"" + key + "\" must be an integer");
    const auto number = value.get<std::int64_t>();
    if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(INT32_MAX))
        throw Exception("JSON key \"" + key + "\" is out of the 32-bit range");
    if (number < INT32_MIN || number > INT32_MAX)
        throw Exception("JSON key \"" + key + "\" is out of the 32-bit range");
    return static_cast<std::int32_t>(number);
}

} // namespace

std::string Latin1ToJsonString(const std::string& text) {
    return Latin1ToUtf8(text);
}

std::string JsonStringToLatin1(const nlohmann::json& value, const std::string& key) {
    if (!value.is_string())
        throw Exception("JSON key \"" + key + "\" must be a string");
    const std::optional<std::string> text = Utf8ToLatin1(value.get<std::string>());
    if (!text)
        throw Exception("JSON key \"" + key + "\" holds a character above 255");
    return *text;
}

nlohmann::ordered_json KeyRecordToJson(const TZarnPublicKey& key) {
    nlohmann::ordered_json object;
    object["PublicKeyOwnerId"] = Latin1ToJsonString(key.GetPublicKeyOwnerId());
    object["PublicKeyIndex"] = key.GetPublicKeyIndex();
    object["PublicKeyExpDate"] = Latin1ToJsonString(key.GetPublicKeyExpDate());
    object["HashAlgorithmIndicator"] = key.GetHashAlgorithmIndicator();
    object["PublicKeyAlgorithmIndicator"] = key.GetPublicKeyAlgorithmIndicator();
    object["PublicKeyModulusLength"] = key.GetPublicKeyModulusLength();
    object["PublicKeyExponentLength"] = key.GetPublicKeyExponentLength();
    object["PublicKeyModulus"] = Latin1ToJsonString(key.GetPublicKeyModulus());
    object["PublicKeyExponent"] = Latin1ToJsonString(key.GetPublicKeyExponent());
    object["HashResult"] = Latin1ToJsonString(key.GetHashResult());
    object["ExpectedHashResult"] = Latin1ToJsonString(key.GetExpectedHashResult());
    object["FileName"] = Latin1ToJsonString(key.GetFileName());
    object["ShowFileDialog"] = key.GetShowFileDialog();
    return object;
}

void KeyRecordFromJson(const nlohmann::json& object, TZarnPublicKey& key) {
    if (!object.is_object())
        throw Exception("the JSON text must be an object");
    for (const auto& [name, setter] : kTextProperties)
        if (object.contains(name))
            (key.*setter)(JsonStringToLatin1(object.at(name), name));
    for (const auto& [name, setter] : kIntegerProperties)
        if (object.contains(name))
            (key.*setter)(JsonInteger(object.at(name), name));
}

} // namespace zarn
