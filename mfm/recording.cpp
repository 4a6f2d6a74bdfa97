// SPDX-License-Identifier: GPL-3.0-or-later
#include "mfm/recording.h"

namespace vokta::mfm {

bool IsPlausible(Recording recording)
{
    return recording.dataRateKbit >= 100 && recording.dataRateKbit <= 2000 && recording.rpm >= 150 &&
           recording.rpm <= 600;
}

double CellsPerSecond(Recording recording)
{
    return 2000.0 * recording.dataRateKbit;
}

size_t CellsPerRevolution(Recording recording)
{
    return static_cast<size_t>(CellsPerSecond(recording) * 60 / recording.rpm);
}

}  // namespace vokta::mfm
