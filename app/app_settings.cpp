#include "app/app_settings.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include <tinyxml2.h>

#include "engine/paths.h"
#include "platform/file_system.h"

namespace chm {
namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;
using tinyxml2::XMLNode;

constexpr const char* kRootName = "TavorinCHMSettings";
constexpr const char* kVersion = "1.0";
// Fixed for the product; a file carrying any other namespace is not ours and is ignored.
constexpr const char* kNamespace = "urn:tavorin:channel-merger:settings:1";

// True when the text begins with a decimal integer (after blanks, with an optional sign), as
// the old integer query accepted "12abc" as 12. Values beyond int32 saturate.
bool ParseLeadingInt(const char* text, int32_t& value) {
    if (!text) return false;
    while (std::isspace(static_cast<unsigned char>(*text))) ++text;
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+') ++text;
    if (!std::isdigit(static_cast<unsigned char>(*text))) return false;
    int64_t magnitude = 0;
    for (; std::isdigit(static_cast<unsigned char>(*text)); ++text)
        magnitude = std::min<int64_t>(magnitude * 10 + (*text - '0'), int64_t{INT32_MAX} + 1);
    value = static_cast<int32_t>(std::clamp<int64_t>(negative ? -magnitude : magnitude, INT32_MIN, INT32_MAX));
    return true;
}

bool ReadInt(const XMLElement& element, const char* name, int32_t& value) {
    return ParseLeadingInt(element.Attribute(name), value);
}

void ReadBool(const XMLElement& element, const char* name, bool& field) {
    int32_t value = 0;
    if (ReadInt(element, name, value)) field = value != 0;
}

void ReadString(const XMLElement& element, const char* name, std::string& field) {
    if (const char* value = element.Attribute(name)) field = value;
}

// A section is read only when its first child node is an element; after that, each following
// sibling element is applied in order, so a repeated element overrides the earlier one.
template <typename Apply>
void WalkSection(const XMLElement* section, Apply apply) {
    const XMLNode* first = section ? section->FirstChild() : nullptr;
    for (const XMLElement* e = first ? first->ToElement() : nullptr; e; e = e->NextSiblingElement())
        apply(*e);
}

// A folder name with a NUL in it cannot be written as an attribute: it would read back cut
// short, as another folder. It is stored as the default, empty, instead.
void WriteString(XMLElement& element, const char* name, const std::string& value) {
    element.SetAttribute(name, value.find('\0') == std::string::npos ? value.c_str() : "");
}

struct FileCloser {
    void operator()(FILE* file) const { ::fclose(file); }
};

// The settings file opened for reading, if it is a regular file. A named pipe under the name
// would otherwise hold the start-up until some writer came, and a device could stream for ever.
std::unique_ptr<FILE, FileCloser> OpenRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st;
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<FILE, FileCloser> file(::fdopen(fd, "rb"));
    if (!file) ::close(fd);
    return file;
}

// TinyXML's printer writes a carriage return in a value as it is, and XML's line-end
// normalisation reads it back as a line feed: "/music\r" would come back as another folder.
// The printer itself never writes one, so every carriage return that passes here belongs to a
// value and goes out as a character reference, which reads back as the carriage return.
class ExactValuePrinter : public tinyxml2::XMLPrinter {
public:
    explicit ExactValuePrinter(FILE* file) : XMLPrinter(file) {}

protected:
    void Write(const char* data, size_t size) override {
        for (const char* end = data + size; data != end;) {
            const char* cr = std::find(data, end, '\r');
            XMLPrinter::Write(data, static_cast<size_t>(cr - data));
            if (cr == end) break;
            XMLPrinter::Write(kCarriageReturn, std::strlen(kCarriageReturn));
            data = cr + 1;
        }
    }
    void Putc(char ch) override {
        if (ch == '\r') XMLPrinter::Write(kCarriageReturn, std::strlen(kCarriageReturn));
        else XMLPrinter::Putc(ch);
    }

private:
    static constexpr const char* kCarriageReturn = "&#xD;";
};

// Writes the document to a fresh temporary file beside the target and renames it over the
// target, so a failed write (full disk, no rights) leaves the previous settings intact.
bool WriteReplacing(XMLDocument& doc, const std::string& path) {
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    std::unique_ptr<FILE, FileCloser> file(::fdopen(fd, "w"));
    if (!file) ::close(fd);
    // The printer does not report failed writes: the stream's error flag and the flush do.
    bool ok = false;
    if (file) {
        ExactValuePrinter printer(file.get());
        doc.Print(&printer);
        ok = !doc.Error() && ::fflush(file.get()) == 0 && !::ferror(file.get()) && ::fsync(fd) == 0;
    }
    if (file) ok = ::fclose(file.release()) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

std::string ConfigHome() {
    // A relative $XDG_CONFIG_HOME is invalid by the base-directory rules and is ignored.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home && home[0]) return std::string(home) + "/.config";
    return std::string();
}

std::string ProgramFolder() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : PathFolder(exe.string(), false);
}

}  // namespace

AppSettings& AppSettings::Instance() {
    static AppSettings instance;
    return instance;
}

std::string AppSettings::DataFolder() {
    std::string config = ConfigHome();
    if (config.empty()) return NormalizePath(ProgramFolder() + "/Data/");
    if (config.back() != '/') config += '/';
    return NormalizePath(config + "Tavorin/Channel Merger");
}

bool AppSettings::EnsureDataFolder() { return CreateDirectories(DataFolder()); }

std::string AppSettings::SettingsFilePath() {
    std::string folder = DataFolder();
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder + "Settings.xml";
}

bool AppSettings::Load() { return Load(SettingsFilePath()); }

bool AppSettings::Load(const std::string& path) {
    // 1. Parse.
    XMLDocument doc;
    std::unique_ptr<FILE, FileCloser> file = OpenRegularFile(path);
    if (!file || doc.LoadFile(file.get()) != tinyxml2::XML_SUCCESS) return false;
    // 2. Only our own root, of our version and namespace.
    const XMLElement* root = doc.FirstChildElement();
    if (!root || std::strcmp(root->Name(), kRootName) != 0 || !root->Attribute("version", kVersion) ||
        !root->Attribute("xmlns", kNamespace))
        return false;
    // 3. States.
    WalkSection(root->FirstChildElement("States"), [this](const XMLElement& e) {
        const std::string name = e.Name();
        if (name == "Application") {
            ReadBool(e, "show_getting_started", show_getting_started);
            ReadBool(e, "show_conversion_report", show_conversion_report);
        } else if (name == "MainFrame") {
            int32_t x = 0, y = 0;
            if (ReadInt(e, "x", x) && ReadInt(e, "y", y)) {
                main_frame_x = x;
                main_frame_y = y;
            }
        } else if (name == "Task") {
            ReadString(e, "added_folder", added_folder);
            ReadString(e, "search_folder", search_folder);
            ReadBool(e, "search_sub", search_sub);
            ReadString(e, "output_folder", output_folder);
        }
    });
    // 4. Options; an out-of-range method is clamped, never rejected.
    WalkSection(root->FirstChildElement("Options"), [this](const XMLElement& e) {
        int32_t method = 0;
        if (std::strcmp(e.Name(), "General") != 0) return;
        if (ReadInt(e, "conversion_method", method)) conversion_method = std::clamp(method, 0, 2);
        ReadBool(e, "keep_dates", keep_dates);
        ReadBool(e, "keep_tree", keep_tree);
    });
    // 5.
    return true;
}

bool AppSettings::Save() const { return EnsureDataFolder() && Save(SettingsFilePath()); }

bool AppSettings::Save(const std::string& path) const {
    XMLDocument doc;
    doc.InsertEndChild(doc.NewDeclaration("xml version=\"1.0\" encoding=\"UTF-8\""));
    XMLElement* root = doc.NewElement(kRootName);
    root->SetAttribute("version", kVersion);
    root->SetAttribute("xmlns", kNamespace);
    doc.InsertEndChild(root);

    XMLElement* states = root->InsertNewChildElement("States");
    XMLElement* application = states->InsertNewChildElement("Application");
    application->SetAttribute("show_getting_started", show_getting_started ? 1 : 0);
    application->SetAttribute("show_conversion_report", show_conversion_report ? 1 : 0);
    XMLElement* main_frame = states->InsertNewChildElement("MainFrame");
    main_frame->SetAttribute("x", main_frame_x);
    main_frame->SetAttribute("y", main_frame_y);
    XMLElement* task = states->InsertNewChildElement("Task");
    WriteString(*task, "added_folder", added_folder);
    WriteString(*task, "search_folder", search_folder);
    task->SetAttribute("search_sub", search_sub ? 1 : 0);
    WriteString(*task, "output_folder", output_folder);

    XMLElement* options = root->InsertNewChildElement("Options");
    XMLElement* general = options->InsertNewChildElement("General");
    general->SetAttribute("conversion_method", conversion_method);
    // Only when set: a file of the default options stays as it always was.
    if (keep_dates) general->SetAttribute("keep_dates", 1);
    if (keep_tree) general->SetAttribute("keep_tree", 1);

    return WriteReplacing(doc, path);
}

}  // namespace chm
