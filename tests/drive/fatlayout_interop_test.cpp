// SPDX-License-Identifier: GPL-3.0-or-later
// The FAT layout read from boot sectors that mkfs.fat and mformat wrote, field by field
// against what minfo, fsck.fat and mkfs.fat itself report of the same diskette file: the
// five media, and odd but valid geometries.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "drive/fatlayout.h"
#include "drive/media.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Diskette {
    const char* name;
    const char* make;  // makes the diskette file IMG
    int32_t media;     // the media table's row that describes it, or kMediaUnknown
};

const Diskette kDiskettes[] = {
    {"720K", "mformat -i IMG -C -f 720 ::", kMedia720K},
    {"1.2M", "mkfs.fat -C IMG 1200", kMedia12M},
    {"1.44M", "mkfs.fat -C IMG 1440", kMedia144M},
    {"1.68M", "mformat -i IMG -C -t 80 -h 2 -s 21 -c 4 -r 1 ::", kMedia168M},
    {"1.72M", "mformat -i IMG -C -t 82 -h 2 -s 21 ::", kMedia172M},
    {"one FAT", "mkfs.fat -C -f 1 IMG 1440", kMediaUnknown},
    {"two sectors per cluster", "mkfs.fat -C -s 2 IMG 1440", kMediaUnknown},
    {"four reserved sectors", "mkfs.fat -C -R 4 IMG 1440", kMediaUnknown},
    {"root of 16 entries", "mkfs.fat -C -r 16 IMG 1440", kMediaUnknown},
    {"root of 240 entries", "mkfs.fat -C -r 240 IMG 720", kMediaUnknown},
    {"root ending inside a sector", "mkfs.fat -C -r 100 -R 3 IMG 1200", kMediaUnknown},
    {"all of them", "mkfs.fat -C -f 1 -s 4 -R 2 -r 48 IMG 1200", kMediaUnknown},
    {"FAT16", "mkfs.fat -C -F 16 IMG 16384", kMediaUnknown},
    {"FAT16 with a 32-bit total", "mkfs.fat -C -F 16 -s 2 IMG 40000", kMediaUnknown},
};

using Field = std::function<uint32_t(const FatLayout&)>;

const std::map<std::string, Field> kFields = {
    {"FAT width", [](const FatLayout& l) { return l.fatBits; }},
    {"first FAT sector", [](const FatLayout& l) { return l.firstFatSector; }},
    {"sectors per FAT", [](const FatLayout& l) { return uint32_t{l.sectorsPerFat}; }},
    {"FAT count", [](const FatLayout& l) { return uint32_t{l.fatCount}; }},
    {"root first sector", [](const FatLayout& l) { return l.rootFirstSector; }},
    {"root entries", [](const FatLayout& l) { return uint32_t{l.rootEntries}; }},
    {"root bytes", [](const FatLayout& l) { return l.rootBytes; }},
    {"root sectors", [](const FatLayout& l) { return l.rootSectors; }},
    {"first data sector", [](const FatLayout& l) { return l.firstDataSector; }},
    {"sectors per cluster", [](const FatLayout& l) { return uint32_t{l.sectorsPerCluster}; }},
    {"total sectors", [](const FatLayout& l) { return l.totalSectors; }},
    {"cluster count", [](const FatLayout& l) { return l.clusterCount; }},
    {"last cluster", [](const FatLayout& l) { return l.lastCluster; }},
};

// What one tool says of one field.
struct Statement {
    std::string field;
    uint32_t value;
    std::string source;
};

class Report {
public:
    Report(std::string tool, std::string text) : tool_(std::move(tool)), text_(std::move(text)) {}

    // The first match of `pattern`'s group `group`, when the report has one.
    std::optional<uint32_t> Find(const std::string& pattern, size_t group = 1) const
    {
        std::smatch m;
        if (!std::regex_search(text_, m, std::regex(pattern)))
            return std::nullopt;
        return static_cast<uint32_t>(std::stoul(m[group]));
    }

    void State(std::vector<Statement>& out, const std::string& field, std::optional<uint32_t> value) const
    {
        if (value)
            out.push_back({field, *value, tool_});
    }

private:
    std::string tool_;
    std::string text_;
};

std::optional<uint32_t> Plus(std::optional<uint32_t> a, std::optional<uint32_t> b)
{
    return a && b ? std::optional(*a + *b) : std::nullopt;
}

std::optional<uint32_t> Times(std::optional<uint32_t> a, std::optional<uint32_t> b)
{
    return a && b ? std::optional(*a * *b) : std::nullopt;
}

// minfo prints the boot sector's fields.
void MinfoSays(const Report& r, std::vector<Statement>& out)
{
    r.State(out, "sectors per cluster", r.Find(R"(cluster size: (\d+) sectors)"));
    r.State(out, "first FAT sector", r.Find(R"(reserved \(boot\) sectors: (\d+))"));
    r.State(out, "FAT count", r.Find(R"(\nfats: (\d+))"));
    const auto entries = r.Find(R"(max available root directory slots: (\d+))");
    r.State(out, "root entries", entries);
    r.State(out, "root bytes", Times(entries, 32));
    r.State(out, "sectors per FAT", r.Find(R"(sectors per fat: (\d+))"));
    const auto small = r.Find(R"(small size: (\d+) sectors)");
    r.State(out, "total sectors", small && *small != 0 ? small : r.Find(R"(big size: (\d+) sectors)"));
    r.State(out, "FAT width", r.Find(R"(disk type="FAT(12|16))"));
}

// fsck.fat -v places the areas itself; it refuses a root that ends inside a sector.
void FsckSays(const Report& r, std::vector<Statement>& out)
{
    r.State(out, "first FAT sector", r.Find(R"(First FAT starts at byte \d+ \(sector (\d+)\))"));
    r.State(out, "FAT count", r.Find(R"((\d+) FATs?, \d+ bit entries)"));
    r.State(out, "FAT width", r.Find(R"(\d+ FATs?, (\d+) bit entries)"));
    r.State(out, "sectors per FAT", r.Find(R"(bytes per FAT \(= (\d+) sectors\))"));
    const auto root = r.Find(R"(Root directory starts at byte \d+ \(sector (\d+)\))");
    const auto data = r.Find(R"(Data area starts at byte \d+ \(sector (\d+)\))");
    r.State(out, "root first sector", root);
    r.State(out, "root entries", r.Find(R"((\d+) root directory entries)"));
    r.State(out, "first data sector", data);
    if (root && data)
        r.State(out, "root sectors", *data - *root);
    const auto clusterBytes = r.Find(R"((\d+) bytes per cluster)");
    if (clusterBytes)
        r.State(out, "sectors per cluster", *clusterBytes / 512);
    const auto clusters = r.Find(R"((\d+) data clusters)");
    r.State(out, "cluster count", clusters);
    r.State(out, "last cluster", Plus(clusters, 1));
    r.State(out, "total sectors", r.Find(R"((\d+) sectors total)"));
}

// mkfs.fat -v tells what it made; the areas follow one another in the order it names them.
void MkfsSays(const Report& r, std::vector<Statement>& out)
{
    const std::string has = R"(filesystem has (\d+) (\d+)-bit FATs? and (\d+) sectors? per cluster)";
    const auto fats = r.Find(has, 1);
    r.State(out, "FAT count", fats);
    r.State(out, "FAT width", r.Find(has, 2));
    r.State(out, "sectors per cluster", r.Find(has, 3));
    const auto perFat = r.Find(R"(FAT size is (\d+) sectors?)");
    r.State(out, "sectors per FAT", perFat);
    const auto clusters = r.Find(R"(and provides (\d+) clusters)");
    r.State(out, "cluster count", clusters);
    r.State(out, "last cluster", Plus(clusters, 1));
    const auto reserved = r.Find(R"(There (?:is|are) (\d+) reserved sectors?)");
    r.State(out, "first FAT sector", reserved);
    r.State(out, "root entries", r.Find(R"(Root directory contains (\d+) slots)"));
    const auto rootSectors = r.Find(R"(slots and uses (\d+) sectors?)");
    r.State(out, "root sectors", rootSectors);
    r.State(out, "total sectors", r.Find(R"(with (\d+) sectors;)"));
    const auto root = Plus(reserved, Times(fats, perFat));
    r.State(out, "root first sector", root);
    r.State(out, "first data sector", Plus(root, rootSectors));
}

struct FatLayoutInterop : ::testing::TestWithParam<Diskette> {
    TempDir dir;
    std::string img = dir.File("disk.img");

    void SetUp() override
    {
        if (!RequireTools({"mkfs.fat", "fsck.fat", "mformat", "minfo"}))
            return;
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }

    std::string Run(const std::string& command)
    {
        std::string out;
        Shell(command + " 2>&1", &out);
        return out;
    }
};

}  // namespace

TEST_P(FatLayoutInterop, EveryFieldIsWhatTheToolsReport)
{
    std::string make = GetParam().make;
    make.replace(make.find("IMG"), 3, "'" + img + "'");
    const bool byMkfs = make.starts_with("mkfs.fat");
    if (byMkfs)
        make.insert(std::string("mkfs.fat").size(), " -v");
    const std::string made = Run(make);

    std::vector<Statement> said;
    MinfoSays(Report("minfo", Run("minfo -i '" + img + "' ::")), said);
    FsckSays(Report("fsck.fat", Run("fsck.fat -n -v '" + img + "'")), said);
    if (byMkfs)
        MkfsSays(Report("mkfs.fat", made), said);

    std::vector<uint8_t> sector(512);
    std::ifstream(img, std::ios::binary).read(reinterpret_cast<char*>(sector.data()), 512);
    const std::optional<FatLayout> layout = FatLayout::FromBootSector(sector);
    ASSERT_TRUE(layout);

    std::set<std::string> stated;
    for (const Statement& s : said) {
        EXPECT_EQ(kFields.at(s.field)(*layout), s.value) << s.field << ", as " << s.source << " reports it";
        stated.insert(s.field);
    }
    for (const auto& [name, field] : kFields)
        EXPECT_TRUE(stated.count(name)) << "no tool reports the " << name;

    if (GetParam().media != kMediaUnknown) {
        EXPECT_EQ(FatLayout::FromParams(GeometryOf(GetParam().media)->ToParams()), layout)
            << "the media table's row describes the same volume";
    }
}

INSTANTIATE_TEST_SUITE_P(Diskettes, FatLayoutInterop, ::testing::ValuesIn(kDiskettes),
                         [](const ::testing::TestParamInfo<Diskette>& param) {
                             std::string name;
                             for (const char c : std::string(param.param.name))
                                 if (std::isalnum(static_cast<unsigned char>(c)))
                                     name += c;
                             return name;
                         });
