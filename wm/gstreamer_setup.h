#pragma once

namespace chm {

// Initialises GStreamer once per process and makes the Audio Tap plugin known to its registry
// from the program's own folders (the installed layout first, then the build tree). False
// when GStreamer cannot be initialised; every later call gives the first call's answer.
bool EnsureGstreamer();

// Whether the "audiotap" element can be made, i.e. whether the filter library is installed.
bool IsAudioTapAvailable();

}  // namespace chm
