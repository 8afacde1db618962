// The UTF-8 table sits in the platform layer, whose POSIX code-page calls
// read UTF-8 too; the layers above know it by this name as well.
#pragma once

#include "runtime/platform/utf8.h"
