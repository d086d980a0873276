#pragma once
#include <QFont>

namespace chm {

// The three fonts of the skinned controls, each made once from the application's default font
// with the face and the pixel height replaced, and kept until the program ends. "Tahoma" is
// asked for by name; where it is absent the system's substitute is used.
enum class SkinFont {
    kRegular13,  // "Tahoma" 13 px
    kBold13,     // "Tahoma" 13 px, weight 700
    kRegular14,  // "Tahoma" 14 px
};

const QFont& GetSkinFont(SkinFont which);

}  // namespace chm
