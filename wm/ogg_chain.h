#pragma once
#include <string>

namespace chm {

// Why a chained Ogg file (files joined end to end, each link starting anew) cannot be converted
// whole: its links differ in codec, rate or channels, or start streams of their own (the
// decoding graph, fed by push, ends after the first such link without a word). Empty for a
// single link, links that continue one stream in one format, or a file that is not Ogg. Reads
// only the page headers and the first packet of each link, before the decode.
std::string OggChainProblem(const std::string& path);

}  // namespace chm
