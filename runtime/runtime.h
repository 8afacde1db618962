// The whole public runtime API of Quillgate, in namespace quillgate: a
// program built on the runtime (the launcher) includes this header and no
// other of the runtime's.
//
// The file, document and program operations keep the results their callers
// have always had. Every other call that can fail reports failure one way:
// it returns bool, false when it failed (memory short, a read or listing
// the system refused) with its outputs untouched, true when it did its
// work, and then an empty text or a count of 0 means there was nothing.
#pragma once

#include "runtime/core/heap.h"
#include "runtime/core/pool.h"
#include "runtime/core/slots.h"
#include "runtime/core/text.h"
#include "runtime/files/convert.h"
#include "runtime/files/disk.h"
#include "runtime/files/files.h"
#include "runtime/files/whole_file.h"
#include "runtime/frame.h"
#include "runtime/platform/utf8.h"
#include "runtime/processes.h"
#include "runtime/programs/programs.h"
#include "runtime/xml/rewrite.h"
#include "runtime/xml/xml.h"
