// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>

#include "image/diskimage.h"
#include "rescue/rescuemap.h"

namespace vokta {

// The image file and the rescue map on disk, and the image in memory between them. The
// map never claims more than the file holds: a checkpoint makes the image's new sectors
// last before the map that names them, so a rescue killed at any moment leaves a map that
// a later run can trust.
class RescueTarget {
public:
    ~RescueTarget();
    RescueTarget(const RescueTarget&) = delete;
    RescueTarget& operator=(const RescueTarget&) = delete;

    // The image and map of an earlier run, or new ones, for a diskette of this media.
    // Nothing is created or changed before both were found usable; nullptr with the
    // refusal in words in `error`.
    static std::unique_ptr<RescueTarget> Open(const std::string& imagePath, const std::string& mapPath,
                                              int32_t mediaType, std::string& error);

    bool resumed() const { return resumed_; }
    RescueMap& map() { return map_; }
    const RescueMap& map() const { return map_; }
    const DiskImage& image() const { return image_; }
    const std::string& imagePath() const { return imagePath_; }
    const std::string& mapPath() const { return mapPath_; }
    void SetCommandLine(std::string commandLine) { commandLine_ = std::move(commandLine); }

    // Sectors read well, from `first` on: kept, and finished in the map.
    void Keep(uint32_t first, std::span<const uint8_t> bytes);
    void Mark(uint32_t first, uint32_t count, SectorRescue status);
    // The phase the map's status line names: what the rescue is doing, in which pass.
    void SetPhase(SectorRescue status, unsigned pass);

    // Makes what was kept since the last checkpoint last in the image file, then the map.
    // False with the cause in words in `reason`.
    bool Checkpoint(std::string& reason);

private:
    RescueTarget() = default;
    bool LoadEarlierRun(std::string& error);
    bool Begin(std::string& error);
    bool WriteImage(std::string& reason);

    std::string imagePath_;
    std::string mapPath_;
    bool imageDisk_ = false;
    bool resumed_ = false;
    int fd_ = -1;  // a raw image, written in place
    DiskImage image_;
    RescueMap map_;
    std::set<uint32_t> kept_;  // since the last checkpoint
    bool mapChanged_ = true;
    std::string commandLine_;
    std::string startTime_;
};

}  // namespace vokta
