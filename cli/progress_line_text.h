#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace chm {

// What the live line shows of one running file.
struct RunningFile {
    std::string name;
    int percent;
};

// The width of the terminal on standard error; 80 where it tells none.
size_t TerminalColumns();

// Starts of the UTF-8 characters, so that a shortened text never splits one.
std::vector<size_t> CharacterStarts(const std::string& text);

// Keeps both ends of a name that does not fit, as the list's path ellipsis does.
std::string ElideMiddle(const std::string& text, size_t width);

// The live line for a terminal `columns` wide, never wider than one column less (a full line
// would wrap on some terminals): the counts of `prefix` first, then as many running files as
// fit with a readable share of their names each, and "+N" for the running files left out.
std::string FitProgressLine(const std::string& prefix, const std::vector<RunningFile>& files, size_t columns);

}  // namespace chm
