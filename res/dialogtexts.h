// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace vokta {

// The dialog templates whose texts are resources: the six pages (whose captions are the
// tab texts), the progress dialog and the About box.
enum class Dialog : uint16_t {
    About = 100,
    DupDisk = 130,
    Repair = 132,
    Info = 134,
    Progress = 136,
    VolumeLabel = 143,
    Options = 148,
    Format = 169,
    Boot = 171,
};

// A text of a template, by its dialog and the id of its control.
struct DialogTextEntry {
    Dialog dialog;
    uint16_t control;
    const char* text;
};

// The control number of a template's caption (a page's tab text).
constexpr uint16_t kCaption = 0;

// Texts of a template that belong to no numbered control (labels, group titles) are kept
// under numbers of their own, above every control id.
namespace Unnumbered {
constexpr uint16_t ElapsedTimeLabel = 60001;  // progress dialog: "Elapsed Time ="
constexpr uint16_t SoundsGroup = 60002;       // Options: " Define sounds "
constexpr uint16_t LanguageLabel = 60003;     // Options: "Language :"
constexpr uint16_t VersionLabel = 60004;      // About: "Version :"
constexpr uint16_t DrivesButton = 60005;      // Options: "&Drives ..."
constexpr uint16_t SourceGroup = 60100;       // DupDisk: " Source "
constexpr uint16_t DestinationGroup = 60101;  // DupDisk: "Destination"
constexpr uint16_t ImageGroup = 60102;        // DupDisk: " Image "
constexpr uint16_t DupDiskDriveLabel = 60103; // DupDisk: "&Drive :"
constexpr uint16_t DupDiskResultLabel = 60104; // DupDisk: "Last operation Result: "
constexpr uint16_t MediaGroup = 60200;        // Format: " Media "
constexpr uint16_t ModeGroup = 60201;         // Format: " Mode "
constexpr uint16_t FormatGroup = 60202;       // Format: " Format "
constexpr uint16_t FormatLabelLabel = 60203;  // Format: "Volume &Label :"
constexpr uint16_t FormatResultLabel = 60204; // Format: "Last operation Result: "
constexpr uint16_t VolumeLabelLabel = 60205;  // volume label dialog: "Volume Label :"
constexpr uint16_t RepairDriveLabel = 60300;   // Repair: "&Drive :"
constexpr uint16_t RepairResultLabel = 60301;  // Repair: "Last operation Result: "
constexpr uint16_t BootErrorGroup = 60302;     // Repair: " On Boot Sector Error "
constexpr uint16_t SystemErrorGroup = 60303;   // Repair: " On Sys Area Error "
constexpr uint16_t DataErrorGroup = 60304;     // Repair: " On Data Area Error "
constexpr uint16_t CheckerTitle = 60310;       // disk checker window: its title, with the drive
constexpr uint16_t CheckerClose = 60311;       // disk checker window: "&Close"
constexpr uint16_t CheckerRunning = 60312;     // disk checker window: while it checks
constexpr uint16_t CheckerClean = 60313;       // disk checker window: nothing found
constexpr uint16_t CheckerFoundErrors = 60314; // disk checker window: errors found, none changed
constexpr uint16_t CheckerOtherEnd = 60315;    // disk checker window: any other exit status
constexpr uint16_t CheckerUnreadable = 60316;  // disk checker window: sectors the copy checked lacks
constexpr uint16_t BootDriveLabel = 60400;    // Boot: "&Drive :"
constexpr uint16_t BootStateLabel = 60401;    // Boot: "Current State:"
constexpr uint16_t BootResultsGroup = 60402;  // Boot: " Results "
constexpr uint16_t InfoDriveLabel = 60500;    // Info: "&Drive :"
constexpr uint16_t InfoReportGroup = 60501;   // Info: " Drive Media Information "
// Each page keeps its own block: DupDisk 60100, Format and the volume label dialog 60200,
// Repair 60300, Boot 60400, Info 60500.
}  // namespace Unnumbered

}  // namespace vokta
