// SPDX-License-Identifier: GPL-3.0-or-later
// Seeds for the flux file targets, made by the writers: small SCP and HFE files of one
// and two sides, several revolutions, long intervals and tracks that end inside a block;
// and for the diskette files, flux files of the first cylinder of formatted diskettes.
//   fuzz_flux_seeds OUT   -> OUT/scp OUT/hfe OUT/diskfile
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "drive/backend/files/fluxmedium.h"
#include "fluxfile/hfefile.h"
#include "fluxfile/scpfile.h"

using namespace vokta;
namespace fs = std::filesystem;

namespace {

bool Save(const fs::path& path, const FluxFileWrite& written)
{
    if (!written.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), written.error.c_str());
        return false;
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(written.bytes.data()), static_cast<std::streamsize>(written.bytes.size()));
    return static_cast<bool>(out);
}

ScpImage Scp(uint8_t cylinders, std::initializer_list<uint8_t> heads, size_t revolutions, uint8_t flags)
{
    ScpImage image;
    image.flags = flags;
    for (uint8_t c = 0; c < cylinders; ++c)
        for (uint8_t h : heads) {
            FluxTrack track{c, h, {}};
            for (size_t r = 0; r < revolutions; ++r) {
                FluxRevolution rev{8000000, {}};
                for (uint32_t i = 0; i < 40; ++i)
                    rev.intervals.push_back(80 + 40 * ((i * 7 + c) % 3));
                rev.intervals.push_back(70000 + c);
                track.revolutions.push_back(std::move(rev));
            }
            image.tracks.push_back(std::move(track));
        }
    return image;
}

HfeImage Hfe(uint8_t cylinders, uint8_t sides, size_t bytes)
{
    HfeImage image;
    image.sides = sides;
    for (uint8_t c = 0; c < cylinders; ++c) {
        HfeCylinder& cylinder = image.cylinders.emplace_back();
        for (uint8_t s = 0; s < sides; ++s) {
            cylinder.sides[s].bits = bytes * 8;
            for (size_t i = 0; i < bytes; ++i)
                cylinder.sides[s].bytes.push_back(static_cast<uint8_t>(i % 16 < 12 ? 0xAA : 0x44));
        }
    }
    return image;
}

// The first cylinder of a diskette of `type` formatted, with a data error in one sector.
EmulatedMedium FirstCylinder(MediaType type, MediumDensity density)
{
    const EmulatedMedium formatted = EmulatedMedium::Formatted(type);
    EmulatedMedium medium(density);
    for (uint8_t h = 0; h < 2; ++h)
        medium.track(0, h) = formatted.track(0, h);
    medium.track(0, 1).sectors.back().dataError = true;
    return medium;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT\n", argv[0]);
        return 64;
    }
    const fs::path out(argv[1]);
    fs::create_directories(out / "scp");
    fs::create_directories(out / "hfe");
    fs::create_directories(out / "diskfile");
    const EmulatedMedium dd = FirstCylinder(kMedia720K, MediumDensity::Double);
    const EmulatedMedium hd = FirstCylinder(kMedia144M, MediumDensity::High);
    const bool made =
        Save(out / "scp" / "both-heads", WriteScp(Scp(2, {0, 1}, 2, kScpIndexCued | kScp96Tpi))) &&
        Save(out / "scp" / "head0-360rpm", WriteScp(Scp(3, {0}, 1, kScpIndexCued | kScp360Rpm))) &&
        Save(out / "scp" / "head1-5revs", WriteScp(Scp(1, {1}, 5, kScpIndexCued))) &&
        Save(out / "hfe" / "two-sides", WriteHfe(Hfe(2, 2, 300))) &&
        Save(out / "hfe" / "one-side-short", WriteHfe(Hfe(3, 1, 100))) &&
        Save(out / "diskfile" / "720k-cylinder0.scp", WriteScpMedium(dd, DriveKind::Floppy35HD)) &&
        Save(out / "diskfile" / "720k-cylinder0.hfe", WriteHfeMedium(dd, DriveKind::Floppy35HD)) &&
        Save(out / "diskfile" / "1440k-cylinder0.hfe", WriteHfeMedium(hd, DriveKind::Floppy35HD));
    return made ? 0 : 1;
}
