// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/drivetable.h"

#include <algorithm>
#include <cctype>

namespace vokta {

char NormalizeDriveLetter(char letter)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

void DriveTable::Bind(DriveBinding binding)
{
    binding.letter = NormalizeDriveLetter(binding.letter);
    Unbind(binding.letter);
    auto at = std::find_if(drives_.begin(), drives_.end(),
                           [&](const DriveBinding& d) { return d.letter > binding.letter; });
    drives_.insert(at, std::move(binding));
}

void DriveTable::Unbind(char letter)
{
    letter = NormalizeDriveLetter(letter);
    std::erase_if(drives_, [&](const DriveBinding& d) { return d.letter == letter; });
}

const DriveBinding* DriveTable::Find(char letter) const
{
    letter = NormalizeDriveLetter(letter);
    for (const DriveBinding& d : drives_)
        if (d.letter == letter)
            return &d;
    return nullptr;
}

DriveTable& DriveTable::System()
{
    static DriveTable table;
    return table;
}

}  // namespace vokta
