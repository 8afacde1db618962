// Small helpers on the hottest paths are inlined into every caller in
// optimised builds. An unoptimised build keeps each one a single function,
// as debuggers and coverage tools read the source.
#pragma once

#if defined(__OPTIMIZE__)
#define QUILLGATE_HOT_INLINE [[gnu::always_inline]] inline
#else
#define QUILLGATE_HOT_INLINE inline
#endif
