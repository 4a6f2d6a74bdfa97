// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli info L: [--save FILE]: the Info page's report on the terminal, and its Save.
#include "cli/cli.h"
#include "cli/json.h"
#include "cli/terminalhost.h"
#include "drive/replacementfile.h"
#include "res/strings.h"
#include "info/inforeport.h"

namespace vokta::cli {
namespace {

// The report's lines by what they tell, found by the start of their text in the current
// language; the value is what follows the text, a number where it is one.
constexpr std::pair<Str, std::string_view> kReportFields[] = {
    {Str::InfoVolumeLabel, "label"},
    {Str::InfoDetectedMedia, "media"},
    {Str::InfoOemName, "oemName"},
    {Str::InfoPhysicalDevice, "physicalDevice"},
    {Str::MediaTypeIs, "mediaType"},
    {Str::InfoFatType, "fileSystem"},
    {Str::InfoTotalSectors, "totalSectors"},
    {Str::InfoDiskSize, "diskSize"},
    {Str::InfoFreeSpace, "freeSpace"},
    {Str::InfoCylinders, "cylinders"},
    {Str::InfoSectorsPerTrack, "sectorsPerTrack"},
    {Str::InfoHeads, "heads"},
    {Str::InfoHiddenSectors, "hiddenSectors"},
    {Str::InfoReservedSectors, "reservedSectors"},
    {Str::InfoBytesPerSector, "bytesPerSector"},
    {Str::InfoSectorsPerCluster, "sectorsPerCluster"},
    {Str::InfoSectorsPerFat, "sectorsPerFat"},
    {Str::InfoFatCount, "fatCount"},
    {Str::InfoRootEntries, "rootEntries"},
    {Str::InfoMediaDescriptor, "mediaDescriptor"},
    {Str::InfoBootSector, "bootSector"},
    {Str::InfoFirstFatSector, "firstFatSector"},
    {Str::InfoSecondFatSector, "secondFatSector"},
    {Str::InfoRootDirSector, "rootDirSector"},
    {Str::InfoFirstDataSector, "firstDataSector"},
};

std::string Trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    return std::string(text.substr(first, text.find_last_not_of(' ') - first + 1));
}

std::string ValueJson(const std::string& value)
{
    const bool number = !value.empty() && value.size() < 10 && value.find_first_not_of("0123456789") == std::string::npos;
    return number ? value : JsonString(value);
}

std::string ReportJson(const std::vector<std::string>& lines)
{
    JsonWriter json;
    json.BeginObject();
    for (const auto& [id, key] : kReportFields) {
        const std::string text = LoadString(id);
        const std::string head = text.substr(0, text.find('%'));
        for (const std::string& line : lines)
            if (!head.empty() && line.starts_with(head)) {
                json.Key(key).Raw(ValueJson(Trimmed(std::string_view(line).substr(head.size()))));
                break;
            }
    }
    json.EndObject();
    return json.text();
}

}  // namespace

int InfoCommand(Context& context, const Arguments& args)
{
    const char letter = args.Drive(0);
    TerminalHost host(context);
    const std::optional<std::string> file = args.Value("--save");
    if (const std::optional<std::string> refusal = file ? SaveTargetRefusal(*file) : std::nullopt) {
        host.MessageBox(*file + ": " + *refusal, LoadString(Str::Error), Buttons::Ok, Icon::Error);
        return Finish(context, {kResultFailed});
    }
    const InfoResult info = GetInfo(letter, context.drives, host);
    for (const std::string& line : info.lines)
        context.Print(line);
    context.AddField("report", ReportJson(info.lines));
    if (info.outcome != InfoOutcome::Done)
        return Finish(context, {info.outcome == InfoOutcome::Cancelled ? kResultAborted : kResultFailed});
    if (file && !SaveReportFile(*file, SavedReport(std::string{letter, ':'}, info.lines), host))
        return Finish(context, {kResultFailed});
    // A report that ends at its error line found the boot sector unreadable.
    OperationOutcome outcome{kResultDone};
    outcome.defectsLeft = info.lines.back() == LoadString(Str::CannotReadBootSector);
    return Finish(context, outcome);
}

}  // namespace vokta::cli
