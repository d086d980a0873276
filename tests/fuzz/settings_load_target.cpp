// The settings file on arbitrary bytes: a file that is refused changes nothing, and whatever
// is accepted is saved and read back as the same settings.
#include <string>

#include "app/app_settings.h"
#include "platform/file_system.h"
#include "tests/fuzz/fuzz_support.h"

namespace chm::fuzz {
namespace {

struct Fields {
    int32_t x, y;
    bool getting_started, report;
    std::string added, search;
    bool sub;
    std::string output;
    int32_t method;
    bool operator==(const Fields&) const = default;
};

Fields FieldsOf(const AppSettings& s) {
    return {s.main_frame_x,  s.main_frame_y,  s.show_getting_started, s.show_conversion_report, s.added_folder,
            s.search_folder, s.search_sub,    s.output_folder,        s.conversion_method};
}

}  // namespace

void RunSettingsLoad(std::span<const uint8_t> bytes) {
    FuzzWorkspace& workspace = FuzzWorkspace::Instance();
    const std::string path = workspace.WriteInput("Settings.xml", bytes);
    AppSettings& settings = AppSettings::Instance();
    settings.ResetToDefaults();
    const Fields before = FieldsOf(settings);
    if (!settings.Load(path)) {
        FuzzCheck(FieldsOf(settings) == before, "a refused file changed the settings");
    } else {
        FuzzCheck(settings.conversion_method >= 0 && settings.conversion_method <= 2, "method out of range");
        const Fields loaded = FieldsOf(settings);
        const std::string saved = workspace.OutputPath("Saved.xml");
        FuzzCheck(settings.Save(saved), "accepted settings cannot be saved");
        settings.ResetToDefaults();
        FuzzCheck(settings.Load(saved), "saved settings cannot be read");
        FuzzCheck(FieldsOf(settings) == loaded, "saved settings read back differently");
        RemoveFile(saved);
    }
    workspace.CheckUnchanged(path, bytes);
}

}  // namespace chm::fuzz
