// SPDX-License-Identifier: GPL-3.0-or-later
#include "res/strings.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>
#include <optional>
#include <vector>

#include "res/tablechecks.h"

namespace vokta {
namespace {

constexpr StringEntry kEnglish[] = {
#include "res/strings_en.inc"
};
static_assert(SortedById(kEnglish), "the string table must be sorted by id, ids unique");

constexpr bool HasEnglishText(Str id)
{
    for (const StringEntry& e : kEnglish)
        if (e.id == id)
            return true;
    return false;
}

// 0 when every name has a text; otherwise the number of the first that has none.
constexpr uint32_t FirstNameWithoutText()
{
    for (Str id : kAllStringIds)
        if (!HasEnglishText(id))
            return static_cast<uint32_t>(id);
    return 0;
}
static_assert(FirstNameWithoutText() == 0, "a string id has no English text");
// With the table sorted and unique, equal counts leave no text without a name.
static_assert(std::size(kEnglish) == std::size(kAllStringIds), "a text of the table has no name of its own");

static_assert(FirstStringNotUtf8(kEnglish) == 0, "a text of the table is not valid UTF-8");

constexpr DialogTextEntry kEnglishDialogTexts[] = {
#include "res/dialogtexts_en.inc"
};
static_assert(SortedByDialogAndControl(kEnglishDialogTexts),
              "the dialog texts must be sorted by dialog and control, each once");
static_assert(DialogTextsUtf8(kEnglishDialogTexts), "a dialog text is not valid UTF-8");

constinit const ArrayStringTable kEnglishTable{kEnglish, kEnglishDialogTexts};
// Switched on the window's thread while workers may be loading strings.
std::atomic<const StringTable*> currentModule = nullptr;

// One argument of a format: a number or a text.
struct FormatArg {
    bool isText = false;
    long number = 0;
    std::string_view text;
};

FormatArg Number(long value)
{
    return {false, value, {}};
}

FormatArg Text(const std::string& value)
{
    return {true, 0, value};
}

// A piece of a format: plain text, or one conversion ("%2.2d").
struct Piece {
    std::string_view text;
    bool conversion = false;
    bool takesText = false;
    std::string_view length;
};

constexpr std::string_view kFlags = "-+ #0";
constexpr std::string_view kNumberConversions = "diouxXc";

size_t SkipDigits(std::string_view s, size_t at)
{
    while (at < s.size() && s[at] >= '0' && s[at] <= '9')
        ++at;
    return at;
}

// The pieces of a format, or nothing when a '%' starts no conversion that can be formatted
// safely (a stray '%', '*' widths, positional arguments, floating point, %n).
std::optional<std::vector<Piece>> Parse(std::string_view format)
{
    std::vector<Piece> pieces;
    size_t plain = 0;
    for (size_t at = format.find('%'); at != std::string_view::npos; at = format.find('%', plain)) {
        if (at > plain)
            pieces.push_back({format.substr(plain, at - plain)});
        if (at + 1 < format.size() && format[at + 1] == '%') {
            pieces.push_back({format.substr(at + 1, 1)});
            plain = at + 2;
            continue;
        }
        size_t end = at + 1;
        while (end < format.size() && kFlags.find(format[end]) != std::string_view::npos)
            ++end;
        end = SkipDigits(format, end);
        if (end < format.size() && format[end] == '.')
            end = SkipDigits(format, end + 1);
        const size_t lengthStart = end;
        while (end < format.size() && (format[end] == 'h' || format[end] == 'l') && end - lengthStart < 2)
            ++end;
        const std::string_view length = format.substr(lengthStart, end - lengthStart);
        if (end >= format.size() || (length.size() == 2 && length[0] != length[1]))
            return std::nullopt;
        const char type = format[end];
        const bool takesText = type == 's';
        if (!takesText && kNumberConversions.find(type) == std::string_view::npos)
            return std::nullopt;
        if ((takesText || type == 'c') && !length.empty())
            return std::nullopt;
        pieces.push_back({format.substr(at, end + 1 - at), true, takesText, length});
        plain = end + 1;
    }
    if (plain < format.size())
        pieces.push_back({format.substr(plain)});
    return pieces;
}

bool SameConversionPieces(const std::vector<Piece>& a, const std::vector<Piece>& b)
{
    auto conversions = [](const std::vector<Piece>& pieces) {
        std::vector<std::string_view> found;
        for (const Piece& p : pieces)
            if (p.conversion)
                found.push_back(p.text);
        return found;
    };
    return conversions(a) == conversions(b);
}

bool FitsArguments(const std::vector<Piece>& pieces, std::span<const FormatArg> args)
{
    size_t next = 0;
    for (const Piece& p : pieces) {
        if (!p.conversion)
            continue;
        if (next == args.size() || args[next].isText != p.takesText)
            return false;
        ++next;
    }
    return next == args.size();
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
// One conversion, handed to snprintf with exactly the type its length asks for.
template <typename T>
void AppendConverted(std::string& out, std::string_view conversion, T value)
{
    const std::string format(conversion);
    const int size = std::snprintf(nullptr, 0, format.c_str(), value);
    if (size <= 0)
        return;
    std::string converted(static_cast<size_t>(size) + 1, '\0');
    std::snprintf(converted.data(), converted.size(), format.c_str(), value);
    converted.resize(static_cast<size_t>(size));
    out += converted;
}
#pragma GCC diagnostic pop

void AppendConversion(std::string& out, const Piece& p, const FormatArg& arg)
{
    if (p.takesText)
        AppendConverted(out, p.text, std::string(arg.text).c_str());
    else if (p.length == "ll")
        AppendConverted(out, p.text, static_cast<long long>(arg.number));
    else if (p.length == "l")
        AppendConverted(out, p.text, arg.number);
    else
        AppendConverted(out, p.text, static_cast<int>(arg.number));
}

std::string Format(Str id, std::span<const FormatArg> args)
{
    const std::string english(EnglishStrings().Find(id));
    const std::optional<std::vector<Piece>> englishPieces = Parse(english);
    if (!englishPieces || !FitsArguments(*englishPieces, args))
        return english;  // our own table and call disagree: show the text rather than guess
    const std::string translated = LoadString(id);
    std::optional<std::vector<Piece>> pieces = Parse(translated);
    if (!pieces || !SameConversionPieces(*pieces, *englishPieces))
        pieces = englishPieces;
    std::string out;
    size_t next = 0;
    for (const Piece& p : *pieces) {
        if (p.conversion)
            AppendConversion(out, p, args[next++]);
        else
            out += p.text;
    }
    return out;
}

}  // namespace

std::string_view ArrayStringTable::Find(Str id) const
{
    auto it = std::find_if(entries_.begin(), entries_.end(), [id](const StringEntry& e) { return e.id == id; });
    if (it == entries_.end() || it->id != id)
        return {};
    return it->text;
}

const char* ArrayStringTable::FindDialogText(Dialog dialog, uint16_t control) const
{
    for (const DialogTextEntry& e : dialogTexts_)
        if (e.dialog == dialog && e.control == control)
            return e.text;
    return nullptr;
}

const StringTable& EnglishStrings()
{
    return kEnglishTable;
}

void SetResourceModule(const StringTable* module)
{
    currentModule.store(module);
}

std::string LoadString(Str id)
{
    if (const StringTable* module = currentModule.load()) {
        std::string_view text = module->Find(id);
        if (!text.empty())
            return std::string(text);
    }
    return std::string(EnglishStrings().Find(id));
}

std::string LoadDialogText(Dialog dialog, uint16_t control)
{
    if (const StringTable* module = currentModule.load())
        if (const char* text = module->FindDialogText(dialog, control))
            return text;
    const char* english = EnglishStrings().FindDialogText(dialog, control);
    return english ? english : "";
}

bool SameConversions(std::string_view english, std::string_view translated)
{
    const std::optional<std::vector<Piece>> a = Parse(english);
    const std::optional<std::vector<Piece>> b = Parse(translated);
    return a && b && SameConversionPieces(*a, *b);
}

std::string FormatString(Str id, long value)
{
    const FormatArg args[] = {Number(value)};
    return Format(id, args);
}

std::string FormatString(Str id, long first, long second)
{
    const FormatArg args[] = {Number(first), Number(second)};
    return Format(id, args);
}

std::string FormatString(Str id, const std::string& value)
{
    const FormatArg args[] = {Text(value)};
    return Format(id, args);
}

std::string FormatString(Str id, const std::string& first, const std::string& second)
{
    const FormatArg args[] = {Text(first), Text(second)};
    return Format(id, args);
}

std::string FormatString(Str id, const std::string& text, long first, long second, long third)
{
    const FormatArg args[] = {Text(text), Number(first), Number(second), Number(third)};
    return Format(id, args);
}

std::string FormatString(Str id, long first, long second, long third)
{
    const FormatArg args[] = {Number(first), Number(second), Number(third)};
    return Format(id, args);
}

std::string FormatString(Str id, const std::string& first, const std::string& second, const std::string& third)
{
    const FormatArg args[] = {Text(first), Text(second), Text(third)};
    return Format(id, args);
}

std::string FormatString(Str id, const std::string& text, long first, long second)
{
    const FormatArg args[] = {Text(text), Number(first), Number(second)};
    return Format(id, args);
}

}  // namespace vokta
