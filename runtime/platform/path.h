// Questions about paths that need no open handle.
#pragma once

namespace quillgate {

// True when something (a file or a folder) exists under the path.
bool os_path_exists(const char* path);

} // namespace quillgate
