#pragma once

#include <string>

struct AcqState;

/// Texts of the instant readout: the whole list for TxtADResult and the caption
/// of LabCurChnADVal. Kept by the window and refilled on every tick, so their
/// buffers are reused.
struct InstantReadout {
    std::string list;
    std::string label;
};

/// The newest point of every channel as "Ch 5=0BB8   V: 2.324" lines under a
/// heading, CR LF after every line, and the caption "Chn5 = 2.324" of the
/// plotted channel. A channel above the acquired ones (17 to 32) reads 0 V.
/// With a span of 0 there are no volts to show and "----" stands in their place.
void instantReadout(const AcqState& state, InstantReadout& out);

/// The mean of the newest 100 points of every channel, kept in AvgVal as the
/// rounded whole code, and the list text of those means. Leaves the caption of
/// the plotted channel alone.
void averageReadout(AcqState& state, std::string& out);
