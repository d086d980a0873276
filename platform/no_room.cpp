#include "platform/no_room.h"

#include <cerrno>

namespace chm {
namespace {

thread_local bool no_room = false;

}  // namespace

void NoteIfNoRoom(int error) {
    if (error == ENOSPC || error == EDQUOT) no_room = true;
}

bool TakeNoRoom() {
    const bool was = no_room;
    no_room = false;
    return was;
}

}  // namespace chm
