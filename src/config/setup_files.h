// The setup files: what the setup pass takes from the payload into the work
// folder before anything else runs. The setup pass, the start-up window and
// the maker's tool all name them through these constants.
#pragma once

// The settings file, read by the setting store and by the section lists.
inline constexpr char kSettingsFileName[] = "install.env";
// The title picture of the start-up window.
inline constexpr char kTitlePictureName[] = "insttscr.rct";
// The readme texts: every top-level file whose name holds this, in any
// letter case (the setup pass matches it anywhere in the name).
inline constexpr char kReadmePattern[] = ".txt";
