#pragma once

namespace chm::test {

// Initialises GStreamer and makes the Audio Tap plugin of the build tree known to the registry.
bool LoadAudioTapPlugin();

}  // namespace chm::test
