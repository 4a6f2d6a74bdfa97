// SPDX-License-Identifier: GPL-3.0-or-later
// Read, write with verify, and compare of a 1.72M diskette between two diskette files,
// timed step by step. Prints milliseconds and MB/s per step.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "drive/backend/files/virtualdrive.h"
#include "drive/drivetable.h"
#include "drive/fatlayout.h"
#include "image/duplicate.h"
#include "quiethost.h"

using namespace vokta;

namespace {

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::perror(path.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

std::vector<uint8_t> DistributionImage()
{
    const MediaGeometry g = *GeometryOf(kMedia172M);
    std::vector<uint8_t> image(ImageSizeOf(kMedia172M));
    for (size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    // A boot sector whose BPB is the 1.72M row, so the diskette is recognized.
    const DeviceParams row = g.ToParams();
    image[0] = 0xEB;
    image[1] = 0x3C;
    image[2] = 0x90;
    std::copy_n(row.bytes.begin() + DeviceParams::kBpbOffset, DeviceParams::kBpbSize, image.begin() + 11);
    image[38] = 0x29;
    std::copy_n("BENCH      FAT12   ", 19, image.begin() + 43);
    image[510] = 0x55;
    image[511] = 0xAA;
    // Empty FATs and root directory: the destination check finds no files.
    const auto dataStart = static_cast<std::ptrdiff_t>(FatLayout::FromParams(row)->firstDataSector);
    std::fill(image.begin() + 512, image.begin() + 512 * dataStart, 0);
    return image;
}

template <typename Step>
void Time(const char* name, size_t bytes, Step step)
{
    const auto start = std::chrono::steady_clock::now();
    const int result = step();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-22s %8.2f ms %9.1f MB/s  result %d\n", name, ms, static_cast<double>(bytes) / 1e6 / (ms / 1000), result);
}

}  // namespace

int main()
{
    char dirTemplate[] = "/tmp/vokta-bench-XXXXXX";
    const std::string dir = mkdtemp(dirTemplate);
    const std::string source = dir + "/source.img";
    const std::string target = dir + "/target.img";
    const std::vector<uint8_t> bytes = DistributionImage();
    WriteFile(source, bytes);
    // A prepared diskette holding other data: the write changes every sector but needs no format.
    std::vector<uint8_t> other = bytes;
    for (size_t i = 512 * 64; i < other.size(); ++i)
        other[i] = static_cast<uint8_t>(~other[i]);
    WriteFile(target, other);

    DriveTable drives;
    drives.Bind(VirtualDriveBinding('A', source, DriveKind::Floppy35HD));
    drives.Bind(VirtualDriveBinding('B', target, DriveKind::Floppy35HD));
    QuietHost host;
    const auto image = std::make_shared<DiskImage>();
    auto job = [&](const char* drive) {
        DuplicateJob j;
        j.driveText = drive;
        j.image = image;
        j.drives = drives;
        return j;
    };

    const auto total = std::chrono::steady_clock::now();
    Time("read A: (1.72M)", bytes.size(), [&] { return ReadDiskWorker(job("A:"), host).result; });
    Time("write B: with verify", bytes.size() * 2, [&] { return WriteDiskWorker(job("B:"), host).result; });
    Time("compare B:", bytes.size(), [&] { return CompareWorker(job("B:"), host).result; });
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - total).count();
    std::printf("%-22s %8.2f ms\n", "whole cycle", ms);
    std::remove(source.c_str());
    std::remove(target.c_str());
    rmdir(dir.c_str());
    return 0;
}
