// A small file written as a whole and safely: beside it, flushed, then
// moved over it, so that a failure at any point leaves the old file whole.
#pragma once

#include <string_view>

namespace quillgate {

// True once `bytes` are the file's content on disk.
bool file_replace_contents(const char* path, std::string_view bytes);

} // namespace quillgate
