// What the window looks like on every toolkit: its texts and the numbers of
// its layout. The controls stack top to bottom from the top-left corner.
#pragma once

#include "collect/Texts.h"

namespace tarnhollow::layout {

inline constexpr int contentWidth = 480;
inline constexpr int contentHeight = 180;   // grows only when a screen needs more
inline constexpr int inset = 20;            // on all four sides
inline constexpr int spacing = 12;          // between the controls
inline constexpr int barWidth = 440;        // the bar's, and the texts' widest line
inline constexpr int headlineFontSize = 14; // bold
inline constexpr int textFontSize = 13;

} // namespace tarnhollow::layout
