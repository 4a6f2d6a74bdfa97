// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/json.h"

#include <cstdio>

namespace vokta::cli {
namespace {

// The length of the well-formed UTF-8 sequence at text[i], or 0.
size_t Utf8Length(std::string_view text, size_t i)
{
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    unsigned low = 0x80, high = 0xbf;  // the second byte's range
    if (lead >= 0xc2 && lead <= 0xdf)
        length = 2;
    else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;  // no surrogates
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (size_t k = 2; k < length; ++k)
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf)
            return 0;
    return length;
}

}  // namespace

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const size_t length = Utf8Length(text, i);
            json.append(length ? text.substr(i, length) : "\\ufffd");
            i += length ? length : 1;
            continue;
        }
        switch (c) {
        case '"': json += "\\\""; break;
        case '\\': json += "\\\\"; break;
        case '\n': json += "\\n"; break;
        case '\r': json += "\\r"; break;
        case '\t': json += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", unsigned{c});
                json += escaped;
            } else {
                json += static_cast<char>(c);
            }
        }
        ++i;
    }
    return json + "\"";
}

void JsonWriter::BeforeValue()
{
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!empty_.empty() && !empty_.back())
        text_ += ',';
    if (!empty_.empty())
        empty_.back() = false;
}

JsonWriter& JsonWriter::Open(char bracket)
{
    BeforeValue();
    text_ += bracket;
    empty_.push_back(true);
    return *this;
}

JsonWriter& JsonWriter::Close(char bracket)
{
    empty_.pop_back();
    text_ += bracket;
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key)
{
    BeforeValue();
    text_ += JsonString(key) + ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text)
{
    return Raw(JsonString(text));
}

JsonWriter& JsonWriter::Number(int64_t value)
{
    return Raw(std::to_string(value));
}

JsonWriter& JsonWriter::Null()
{
    return Raw("null");
}

JsonWriter& JsonWriter::Raw(std::string_view json)
{
    BeforeValue();
    text_ += json;
    return *this;
}

}  // namespace vokta::cli
