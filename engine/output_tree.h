#pragma once
#include <string>

namespace chm {

// The folders of a source's tree, made again under the output folder.

// The path of the input's folder relative to `found_under`, the folder it was found under
// ("" where it lies directly in it). False where it does not lie below `found_under` at all,
// spelled out lexically on absolute, normalised paths: a ".." never climbs out.
bool TreePathOf(const std::string& input, const std::string& found_under, std::string& relative);

// Makes the folders of `relative` below `output_folder` that are missing, each with the
// permissions of its counterpart below `found_under` (and always writable by its owner, so that
// outputs can go in). False, and nothing more made, where a part of the way is anything but a
// folder: a link (which could lead out of the output folder), a file, or a folder that cannot
// be made.
bool MakeTreeFolders(const std::string& output_folder, const std::string& relative, const std::string& found_under);

}  // namespace chm
