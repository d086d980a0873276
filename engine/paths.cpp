#include "engine/paths.h"

#include <vector>

#include "platform/file_system.h"

namespace chm {
namespace {

bool IsRelative(const std::string& path) { return path.empty() || path.front() != '/'; }

// The index in the path where its file name begins.
size_t FileNameStart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Resolves "." and ".." by text. ".." at the root stays at the root; leading ".." of a
// relative path are kept, since dropping them would name a different file.
std::string Canonicalize(const std::string& path) {
    const bool absolute = !IsRelative(path);
    const bool trailing = path.size() > 1 && path.back() == '/';
    std::vector<std::string> parts;
    size_t begin = 0;
    while (begin <= path.size()) {
        size_t end = path.find('/', begin);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(begin, end - begin);
        begin = end + 1;
        if (part.empty() || part == ".") continue;
        if (part != "..") {
            parts.push_back(part);
        } else if (!parts.empty() && parts.back() != "..") {
            parts.pop_back();
        } else if (!absolute) {
            parts.push_back(part);
        }
    }
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < parts.size(); ++i) result += (i ? "/" : "") + parts[i];
    if (parts.empty()) return absolute ? result : ".";
    if (trailing) result += '/';
    return result;
}

}  // namespace

std::string PathFileName(const std::string& path) { return path.substr(FileNameStart(path)); }

std::string PathFolder(const std::string& path, bool make_absolute) {
    const std::string full = make_absolute ? MakeAbsolutePath(path) : path;
    const size_t slash = full.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return full.substr(0, slash);
}

std::string PathBaseName(const std::string& path) {
    const std::string name = PathFileName(path);
    return name.substr(0, name.rfind('.'));
}

std::string PathExtension(const std::string& path) {
    const std::string name = PathFileName(path);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string NormalizePath(const std::string& path) {
    if (path.empty()) return path;
    // 1. An existing folder is marked as one.
    std::string text = path;
    if (text.back() != '/' && IsDirectory(text)) text += '/';
    // 2. Doubled separators collapse (this platform has no UNC prefix to spare).
    std::string single;
    for (char c : text) {
        if (c != '/' || single.empty() || single.back() != '/') single += c;
    }
    // 3. Lexical canonicalisation cannot fail here.
    return Canonicalize(single);
}

std::string MakeAbsolutePath(const std::string& path) {
    if (!IsRelative(path)) return path;
    std::string current = CurrentDirectory();
    // Without a current directory the path stays relative: joining it to the root would
    // silently name another place.
    if (current.empty()) return NormalizePath(path);
    if (current.back() != '/') current += '/';
    return NormalizePath(current + path);
}

}  // namespace chm
