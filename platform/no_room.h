#pragma once

namespace chm {

// Whether the calling thread's writes met a full file system (ENOSPC, EDQUOT) since it last
// asked: noted where space is taken, taken where a failure is explained, on the same thread,
// so that "full" is said only of the write that was refused.
void NoteIfNoRoom(int error);
bool TakeNoRoom();

}  // namespace chm
