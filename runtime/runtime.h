// The whole public runtime API of Quillgate, in namespace quillgate.
#pragma once

#include "runtime/core/heap.h"
#include "runtime/core/pool.h"
#include "runtime/core/slots.h"
#include "runtime/core/text.h"
#include "runtime/files/convert.h"
#include "runtime/files/files.h"
#include "runtime/frame.h"
#include "runtime/programs/programs.h"
#include "runtime/xml/xml.h"
