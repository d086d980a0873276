#include "ui/skin_images.h"

#include <mutex>

#include "ui/gfx/images.h"

// Q_INIT_RESOURCE must be called outside any namespace; the pictures live in a static
// library, whose resource registration the linker would otherwise drop.
static void InitSkinImages() { Q_INIT_RESOURCE(chm_skin); }

namespace chm {

QImage LoadSkinImage(const QString& name) {
    static std::once_flag once;
    std::call_once(once, InitSkinImages);
    return gfx::LoadResourceImage(name);
}

}  // namespace chm
