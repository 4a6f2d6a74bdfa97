// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdio>
#include <string>

#include "cli/cli.h"
#include "ops/operation.h"

namespace vokta::cli {

// The progress dialog on a terminal: texts and a bar on stderr (redrawn in place when
// stderr is a terminal, with the track map beneath), message boxes through the prompter,
// Ctrl-C as the Abort button and, while the button reads "&Finish", Enter as well.
class TerminalHost final : public OperationHost {
public:
    explicit TerminalHost(Context& context);
    ~TerminalHost() override;

    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override;
    void SetUpperLine(const std::string& text) override;
    void SetLowerLine(const std::string& text) override;
    void SetTitle(const std::string& text) override;
    void SetRange(int high) override;
    int SetProgressPos(int position) override;
    void SetBarColours(Rgb, Rgb) override {}
    void SetAbortCaption(AbortButton button) override;
    bool AbortRequested() override;
    void PlaySound(const std::string& sound) override;
    void Close() override;
    uint64_t TickCount() override;
    void Rest(int milliseconds) override;
    void BeginTrackMap(const TrackMapShape& shape) override;
    void ShowTrack(const TrackReport& report) override;

private:
    // The bar line and the map beneath, drawn in place of what was drawn: Draw at once,
    // Redraw at most every 100 ms (a change asked for sooner waits for the next call, or
    // for the next poll of the Abort button).
    void Draw();
    void Redraw();
    void DrawIfDue();
    void ClearLine();
    void Say(const std::string& text);
    bool EnterPressed();

    Context& context_;
    bool terminal_;
    bool finishing_ = false;
    int drawnLines_ = 0;  // lines drawn below the last line said, the bar's included
    TrackMap map_;
    bool redrawPending_ = false;  // a change not drawn yet
    uint64_t drawnAt_ = 0;
    std::string title_, upper_, lower_;
    int high_ = 0;
    int position_ = 0;
};

}  // namespace vokta::cli
