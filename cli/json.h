// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vokta::cli {

// Writes one JSON text. Members and elements are separated as they come; a key is
// followed by exactly one value, which may be an object or an array.
class JsonWriter {
public:
    JsonWriter& BeginObject() { return Open('{'); }
    JsonWriter& EndObject() { return Close('}'); }
    JsonWriter& BeginArray() { return Open('['); }
    JsonWriter& EndArray() { return Close(']'); }
    JsonWriter& Key(std::string_view key);
    JsonWriter& String(std::string_view text);
    JsonWriter& Number(int64_t value);
    JsonWriter& Null();
    // A value of text that is JSON already.
    JsonWriter& Raw(std::string_view json);

    const std::string& text() const { return text_; }

private:
    JsonWriter& Open(char bracket);
    JsonWriter& Close(char bracket);
    void BeforeValue();

    std::string text_;
    std::vector<bool> empty_;  // per open object or array: nothing in it yet
    bool afterKey_ = false;
};

// `text` as a JSON string, quotes included. Bytes that are no UTF-8 become U+FFFD, so a
// file name in another encoding still gives valid JSON.
std::string JsonString(std::string_view text);

}  // namespace vokta::cli
