#include "engine/output_tree.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "engine/paths.h"

namespace chm {

bool TreePathOf(const std::string& input, const std::string& found_under, std::string& relative) {
    if (found_under.empty()) return false;
    const std::filesystem::path folder = std::filesystem::path(PathFolder(input, true)).lexically_normal();
    const std::filesystem::path root = std::filesystem::path(MakeAbsolutePath(found_under)).lexically_normal();
    const std::filesystem::path below = folder.lexically_relative(root);
    if (below.empty() || below.is_absolute()) return false;
    for (const auto& part : below)
        if (part == "..") return false;
    relative = below == "." ? std::string() : below.string();
    return true;
}

bool MakeTreeFolders(const std::string& output_folder, const std::string& relative, const std::string& found_under) {
    std::filesystem::path made = output_folder;
    std::filesystem::path source = MakeAbsolutePath(found_under);
    for (const auto& part : std::filesystem::path(relative)) {
        if (part.empty() || part == "." || part == "..") return false;
        made /= part;
        source /= part;
        struct stat st {};
        // lstat: a link in the way is refused, not followed, wherever it leads.
        if (::lstat(made.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return false;
            continue;
        }
        struct stat original {};
        const mode_t mode = ::stat(source.c_str(), &original) == 0 ? (original.st_mode & 07777) | S_IRWXU : 0777;
        if (::mkdir(made.c_str(), mode) != 0 && errno != EEXIST) return false;
        // Made by another file of the run meanwhile: a folder all the same, or refused.
        if (::lstat(made.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
        // mkdir took the umask off; the source's permissions are what the folder gets.
        ::chmod(made.c_str(), mode);
    }
    return true;
}

}  // namespace chm
