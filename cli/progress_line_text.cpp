#include "cli/progress_line_text.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace chm {
namespace {

// Fewer characters of a name tell nothing; a file shown with less is better left out.
constexpr size_t kReadableName = 12;

// The text of the first `width` characters of `text`.
std::string Head(const std::string& text, size_t width) {
    const std::vector<size_t> starts = CharacterStarts(text);
    return starts.size() <= width ? text : text.substr(0, starts[width]);
}

}  // namespace

size_t TerminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

std::vector<size_t> CharacterStarts(const std::string& text) {
    std::vector<size_t> starts;
    for (size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) starts.push_back(i);
    return starts;
}

std::string ElideMiddle(const std::string& text, size_t width) {
    const std::vector<size_t> starts = CharacterStarts(text);
    if (starts.size() <= width) return text;
    if (width < 5) return text.substr(0, starts[width]);
    const size_t head = (width - 3) / 2;
    const size_t tail = width - 3 - head;
    return text.substr(0, starts[head]) + "..." + text.substr(starts[starts.size() - tail]);
}

std::string FitProgressLine(const std::string& prefix, const std::vector<RunningFile>& files, size_t columns) {
    const size_t width = columns > 1 ? columns - 1 : 1;
    const size_t prefix_width = CharacterStarts(prefix).size();
    for (size_t shown = files.size(); shown > 0; --shown) {
        // Everything but the names: " NN%" per file, " | " between them, " +M" for the rest.
        size_t fixed = prefix_width + 3 * (shown - 1);
        for (size_t i = 0; i < shown; ++i) fixed += std::to_string(files[i].percent).size() + 2;
        const std::string more = shown < files.size() ? " +" + std::to_string(files.size() - shown) : "";
        fixed += more.size();
        if (fixed >= width) continue;
        const size_t room = (width - fixed) / shown;
        size_t longest = 0;
        for (size_t i = 0; i < shown; ++i) longest = std::max(longest, CharacterStarts(files[i].name).size());
        if (room < std::min(longest, kReadableName) && shown > 1) continue;
        std::string line = prefix;
        for (size_t i = 0; i < shown; ++i) {
            if (i > 0) line += " | ";
            line += ElideMiddle(files[i].name, std::max<size_t>(room, 1)) + " " + std::to_string(files[i].percent) + "%";
        }
        return Head(line + more, width);
    }
    return Head(prefix, width);
}

}  // namespace chm
