// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <string>

#include "ops/operation.h"

namespace vokta {

// A host nobody watches: every question answered Yes/OK, no abort. Its rests go to
// `rest`, where a benchmark lets its model clock run on.
class QuietHost final : public OperationHost {
public:
    std::function<void(int)> rest;

    Answer MessageBox(const std::string&, const std::string&, Buttons buttons, Icon) override
    {
        return buttons == Buttons::YesNo || buttons == Buttons::YesNoCancel ? Answer::Yes : Answer::Ok;
    }
    void SetUpperLine(const std::string&) override {}
    void SetLowerLine(const std::string&) override {}
    void SetTitle(const std::string&) override {}
    void SetRange(int) override {}
    int SetProgressPos(int) override { return 0; }
    void SetBarColours(Rgb, Rgb) override {}
    void SetAbortCaption(AbortButton) override {}
    bool AbortRequested() override { return false; }
    void PlaySound(const std::string&) override {}
    void Close() override {}
    uint64_t TickCount() override { return 0; }
    void Rest(int milliseconds) override
    {
        if (rest)
            rest(milliseconds);
    }
};

}  // namespace vokta
