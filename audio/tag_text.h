#pragma once
#include <taglib/tstring.h>

#include <string>

namespace chm {

// Our strings are UTF-8; TagLib's carry their own encoding.
inline TagLib::String ToTag(const std::string& text) { return TagLib::String(text, TagLib::String::UTF8); }
inline std::string FromTag(const TagLib::String& text) { return text.to8Bit(true); }

}  // namespace chm
