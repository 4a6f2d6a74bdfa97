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
    // Draws the bar line and the map beneath in place of what was drawn; a map's change
    // is drawn at most every kMapRedrawInterval, the rest as it comes.
    void Redraw();
    void RedrawMap();
    void ClearLine();
    void Say(const std::string& text);
    bool EnterPressed();

    Context& context_;
    bool terminal_;
    bool finishing_ = false;
    int drawnLines_ = 0;  // lines drawn below the last line said, the bar's included
    TrackMap map_;
    bool mapPending_ = false;  // a change of the map not drawn yet
    uint64_t mapDrawnAt_ = 0;
    std::string title_, upper_, lower_;
    int high_ = 0;
    int position_ = 0;
};

}  // namespace vokta::cli
