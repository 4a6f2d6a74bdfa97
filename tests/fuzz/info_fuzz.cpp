// SPDX-License-Identifier: GPL-3.0-or-later
// The information report over a diskette of the fuzzer's bytes: whatever the boot sector
// and the FAT say, the report ends one of its ways, says something, and never writes to
// the diskette.
#include <string>

#include "fuzzinput.h"
#include "info/inforeport.h"

using namespace vokta;
using namespace vokta::fuzz;

namespace {

class CancellingBoxes : public MessageBoxHost {
public:
    Answer MessageBox(const std::string&, const std::string&, Buttons, Icon) override { return Answer::Cancel; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzDiskette disk({data, size});
    CancellingBoxes boxes;
    const InfoResult info = GetInfo('A', disk.table, boxes);
    switch (info.outcome) {
    case InfoOutcome::Done:
        Require(!info.lines.empty() && info.lines.size() <= 27, "a report of one to 27 lines");
        for (const std::string& line : info.lines)
            Require(!line.empty(), "no empty line in the report");
        Require(!SavedReport("A:", info.lines).empty(), "the saved report holds the lines");
        break;
    case InfoOutcome::MediaUnknown:
        Require(info.lines.size() == 1, "the single error line");
        break;
    default:
        Broken("a diskette in a drive no one holds is reported on");
    }
    Require(!disk.drive->modified, "the report never writes to the diskette");
    return 0;
}
