#pragma once

#include <cstdint>

// Every string of the resource modules, by name. The English table and any other
// module (the Italian one) use these numbers; the list is checked against the English
// table when it is built, so a name without a text or a text without a name fails it.
// The numbers follow the original resources: a control's tool tip has the control's id.
#define VOKTA_STRING_IDS(X) \
    X(StandardLayoutName, 3) \
    X(HelpButton, 4) \
    X(InfoTotalSectors, 10) \
    X(InfoDiskSize, 11) \
    X(InfoFreeSpace, 12) \
    X(InfoLogicalLayoutHeading, 13) \
    X(InfoCylinders, 14) \
    X(InfoSectorsPerTrack, 15) \
    X(InfoHeads, 16) \
    X(InfoHiddenSectors, 17) \
    X(InfoReservedSectors, 18) \
    X(InfoBytesPerSector, 19) \
    X(InfoSectorsPerCluster, 20) \
    X(InfoSectorsPerFat, 21) \
    X(InfoFatCount, 22) \
    X(InfoRootEntries, 23) \
    X(InfoMediaDescriptor, 24) \
    X(InfoPhysicalLayoutHeading, 25) \
    X(InfoBootSector, 26) \
    X(InfoFirstFatSector, 27) \
    X(InfoSecondFatSector, 28) \
    X(InfoRootDirSector, 29) \
    X(InfoFirstDataSector, 30) \
    X(InfoReportHeading, 31) \
    X(AboutMenuItem, 101) \
    X(HardDiskFormatWarning, 102) \
    X(Message, 103) \
    X(CheckingMedia, 104) \
    X(MediaTypeIs, 105) \
    X(FatalError, 110) \
    X(InsertDisk, 113) \
    X(Error, 115) \
    X(InsufficientMemory, 127) \
    X(UnrecognizedMedia, 129) \
    X(Verifying, 131) \
    X(WriteProtect, 138) \
    X(MediaUnknownOrNotReady, 140) \
    X(Failed, 144) \
    X(InvalidData, 149) \
    X(InvalidDrive, 150) \
    X(DriveNotReady, 151) \
    X(Formatting, 152) \
    X(SectorNotFound, 153) \
    X(AddressMarkNotFound, 154) \
    X(UnknownError, 155) \
    X(BadCrc, 156) \
    X(InvalidDiskChange, 157) \
    X(InsufficientBuffer, 158) \
    X(DriveLocked, 159) \
    X(CannotAccessFat, 161) \
    X(Aborted, 166) \
    X(MarkingTrackBad, 168) \
    X(About, 172) \
    X(ReadError, 177) \
    X(FileNotFound, 179) \
    X(AccessDenied, 180) \
    X(EndOfDisk, 181) \
    X(VerifyingTrack, 182) \
    X(TipRecreateBoot, 1001) \
    X(TipCheckBoot, 1002) \
    X(TipReadDisk, 1003) \
    X(TipWriteDisk, 1004) \
    X(TipDuplicateDrive, 1005) \
    X(TipLoadImage, 1006) \
    X(TipSaveImage, 1007) \
    X(TipCompare, 1008) \
    X(DiskFull, 1009) \
    X(ErrorNumber, 1010) \
    X(TipImageLabel, 1011) \
    X(TipImageSerial, 1012) \
    X(TipStandardLayout, 1013) \
    X(TipOptimizedLayout, 1014) \
    X(TipFullFormat, 1015) \
    X(TipQuickFormat, 1016) \
    X(TipFormatLabel, 1017) \
    X(QuickFormatting, 1019) \
    X(AskFullFormat, 1020) \
    X(TipStartRepair, 1021) \
    X(TipRepairWriteBoot, 1022) \
    X(TipRepairBootStop, 1023) \
    X(TipRepairFormatSystemArea, 1024) \
    X(TipRepairRunChecker, 1025) \
    X(TipRepairSystemAreaStop, 1026) \
    X(TipFormatDrive, 1027) \
    X(TipRepairDrive, 1028) \
    X(FormattingTrack, 1029) \
    X(WritingBootSector, 1030) \
    X(ImageFileFilter, 1038) \
    X(BootBadSectorLength, 1040) \
    X(BootBadFatCount, 1044) \
    X(BootBadExtendedSignature, 1045) \
    X(BootBadMedia, 1046) \
    X(TipBootDrive, 1047) \
    X(TipGetInfo, 1049) \
    X(TipInfoDrive, 1050) \
    X(TipInfoList, 1051) \
    X(InvalidFunction, 1053) \
    X(TipBootResults, 1054) \
    X(TipStartFormat, 1055) \
    X(TipVerifyFormat, 1056) \
    X(TipRepairFormatTrack, 1057) \
    X(TipRepairMarkCylinder, 1058) \
    X(TipRepairMarkTrack, 1059) \
    X(TipRepairDataStop, 1060) \
    X(Ok, 1061) \
    X(BootBadSignature, 1062) \
    X(BootBadJump, 1063) \
    X(BootBadReservedSectors, 1065) \
    X(BootBadFileSystem, 1069) \
    X(BootBadTotalSectors, 1070) \
    X(TipVerifyWrite, 1071) \
    X(WritingSystemArea, 1073) \
    X(Done, 1076) \
    X(FormatComplete, 1077) \
    X(TipImageMedia, 1078) \
    X(InsertDiskToFormat, 1079) \
    X(InvalidLabelLetter, 1080) \
    X(TipEditLabel, 1083) \
    X(TipJobSound, 1084) \
    X(TipErrorSound, 1085) \
    X(TipJobSoundFile, 1086) \
    X(TipErrorSoundFile, 1087) \
    X(TipEnableHardDisks, 1088) \
    X(TipEnableToolTips, 1089) \
    X(TipPlayJobSound, 1090) \
    X(TipPlayErrorSound, 1091) \
    X(NotWindows95, 1092) \
    X(TipTopMostAtEnd, 1094) \
    X(TipMultiWriteFormat, 1095) \
    X(QuitButton, 1097) \
    X(TipMediaAuto, 1100) \
    X(TipMedia720K, 1102) \
    X(TipMedia144M, 1104) \
    X(TipMedia12M, 1105) \
    X(TipMedia168M, 1106) \
    X(TipMedia172M, 1107) \
    X(InfoDetectedMedia, 1111) \
    X(InfoOemName, 1112) \
    X(InfoPhysicalDevice, 1113) \
    X(Device360K, 1114) \
    X(Device12M, 1115) \
    X(Device720K, 1116) \
    X(DeviceHardDisk, 1117) \
    X(DeviceTape, 1118) \
    X(Device144M, 1119) \
    X(DeviceOptical, 1120) \
    X(Device288M, 1121) \
    X(DeviceUnknown, 1122) \
    X(FixedDiskSuffix, 1123) \
    X(RemovableDiskSuffix, 1124) \
    X(DoubleSpaceCompressed, 1125) \
    X(SoundFileFilter, 1126) \
    X(MediaFolder, 1128) \
    X(CannotChangeLabel, 1144) \
    X(InfoFatType, 1145) \
    X(ReportFileFilter, 1146) \
    X(InfoDrive, 1147) \
    X(TipSaveInfo, 1148) \
    X(TipLanguage, 1149) \
    X(CannotReadBootSector, 1151) \
    X(NoLabel, 1152) \
    X(TipHideSubst, 1153) \
    X(LowLevelButton, 1157) \
    X(StandardButton, 1158) \
    X(SheetTitle, 1160) \
    X(AboutButton, 1161) \
    X(Wait, 1163) \
    X(CannotEstablishMedia, 1164) \
    X(InfoVolumeLabel, 1165) \
    X(CannotGetLabel, 1166) \
    X(AbortButton, 1167) \
    X(FinishButton, 1168) \
    X(DuplicateError, 2001) \
    X(Warning, 2002) \
    X(Reading, 2003) \
    X(SourceNotProtected, 2004) \
    X(BootNotCompliant, 2005) \
    X(NoSourceRead, 2006) \
    X(ErrorMessage, 2007) \
    X(MediaDiffers, 2008) \
    X(WritingToSource, 2009) \
    X(NotEmpty, 2010) \
    X(Duplicating, 2011) \
    X(Writing, 2012) \
    X(FormattingProgress, 2013) \
    X(VerifyingProgress, 2014) \
    X(WriteFailed, 2015) \
    X(RemoveDisk, 2016) \
    X(NoCompareSource, 2017) \
    X(Comparing, 2018) \
    X(ComparingProgress, 2019) \
    X(NoMatch, 2020) \
    X(NotADiskImage, 2021) \
    X(ImageMediaNotSupported, 2022) \
    X(RecreatedLabel, 2101) \
    X(CheckFailed, 2102) \
    X(CheckingBootSector, 2103) \
    X(CannotCheck, 2104) \
    X(BootChecked, 2105) \
    X(WriteWord, 2106) \
    X(CannotRepairBoot, 2107) \
    X(WriteFault, 2201) \
    X(ChangesLost, 2202) \
    X(TablesNotWritten, 2203) \
    X(DriveBindingSyntax, 2204) \
    X(UnknownDriveType, 2205) \
    X(DriveBindingWithoutFile, 2206) \
    X(IsADirectory, 2207) \
    X(NotARegularFile, 2208) \
    X(FileShorterThanItsSize, 2209) \
    X(NotAnImageDiskFile, 2210) \
    X(NotADisketteSize, 2211) \
    X(DisketteFileNotSaved, 2212) \
    X(ImageDiskWithoutEndMark, 2213) \
    X(ImageDiskTruncatedTrackHeader, 2214) \
    X(ImageDiskInvalidTrackHeader, 2215) \
    X(ImageDiskInvalidSizeCode, 2216) \
    X(ImageDiskTruncatedSectorMaps, 2217) \
    X(ImageDiskInvalidSectorSize, 2218) \
    X(ImageDiskInvalidDataRecord, 2219) \
    X(ImageDiskTruncatedSectorData, 2220) \
    X(FloppyPermissionDenied, 2221) \
    X(FloppyPermissionDeniedGroup, 2222) \
    X(NoSuchDevice, 2223) \
    X(NoFloppyAtUnit, 2224) \
    X(DeviceInUse, 2225) \
    X(NotAFloppyDrive, 2226) \
    X(ImageIsAFolder, 2301) \
    X(ImageShorterThanSector, 2302) \
    X(ElapsedSeconds, 2401) \
    X(TitlePercent, 2402)

namespace vokta {

enum class Str : uint32_t {
#define VOKTA_STRING_ID_ENUMERATOR(name, number) name = number,
    VOKTA_STRING_IDS(VOKTA_STRING_ID_ENUMERATOR)
#undef VOKTA_STRING_ID_ENUMERATOR
};

// Every named id, in the order of the list.
inline constexpr Str kAllStringIds[] = {
#define VOKTA_STRING_ID_ELEMENT(name, number) Str::name,
    VOKTA_STRING_IDS(VOKTA_STRING_ID_ELEMENT)
#undef VOKTA_STRING_ID_ELEMENT
};

}  // namespace vokta
