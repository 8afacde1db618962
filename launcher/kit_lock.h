// One launch at a time per kit. A launcher takes its kit's lock before it
// looks at anything and keeps it until it ends; the system lets go of it
// when the process ends, however it ends. On Windows it is a named mutex in
// the user's session, named after the kit folder in any letter case; on
// POSIX an flock on the kit folder itself. Neither leaves anything behind
// in the kit, which may be on a read-only medium, and programs the launcher
// starts do not inherit it.
#pragma once

namespace quillgate {

// Takes the lock of the kit in `kit_folder` (the launcher folder, ending in
// the separator) for the rest of the process's life. 0 when another process
// holds it. 1 when this process holds it now, and also when no lock can be
// had (no folder, or one that cannot be opened): the launch then goes on as
// it would without locks rather than refuse the user's editor.
int kit_lock_take(const char* kit_folder);
// Lets go of the lock taken here: for tests, which play the first launcher.
void kit_lock_release();

} // namespace quillgate
