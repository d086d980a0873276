#pragma once
#include <cstdint>
#include <string>

namespace chm {

// The user's choices and window states kept between runs in "Settings.xml". One instance for
// the process; the parts that own a value read and write its field directly.
class AppSettings {
public:
    static AppSettings& Instance();

    int32_t main_frame_x = -1;
    int32_t main_frame_y = -1;
    bool show_getting_started = true;
    bool show_conversion_report = true;
    std::string added_folder;
    std::string search_folder;
    bool search_sub = false;
    std::string output_folder;  // empty: each output beside its input
    int32_t conversion_method = 0;  // ConversionMethod: 0 mix, 1 keep left, 2 keep right
    bool keep_dates = false;        // outputs take their source's modification time
    bool keep_tree = false;         // outputs of files found under a folder keep their place below the output folder

    // <config>/Tavorin/Channel Merger, where <config> is $XDG_CONFIG_HOME or ~/.config;
    // <program folder>/Data/ when neither is known. Normalised (an existing folder ends in "/").
    static std::string DataFolder();
    // Creates the data folder and its missing parents; true when it exists afterwards.
    static bool EnsureDataFolder();
    static std::string SettingsFilePath();

    // Reads the settings file of the data folder, or the given file. False, with every field
    // left as it was, when the file is missing, malformed or not ours.
    bool Load();
    bool Load(const std::string& path);
    // Writes the fields to the settings file of the data folder (created if needed), or to the
    // given file. The old file is replaced only by a completely written new one.
    bool Save() const;
    bool Save(const std::string& path) const;

    void ResetToDefaults() { *this = AppSettings(); }

private:
    AppSettings() = default;
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = default;  // only for ResetToDefaults
};

}  // namespace chm
