/* Preloaded into every 32-bit Wine process that runs under qemu-i386.
 *
 * Two things qemu-user 7.2 gets wrong for Wine, put right from inside the
 * emulated process:
 *
 * - MAP_FIXED_NOREPLACE is taken as a mere hint, so a mapping that cannot go
 *   where it was asked lands elsewhere and is reported as a success. Wine
 *   then probes the upper address space 64 KiB at a time (tens of thousands
 *   of calls, most of a minute per process start). Here the flag regains the
 *   kernel's meaning: anything placed elsewhere is undone and the call fails
 *   with EEXIST.
 *
 * - Signal contexts carry the trap number -1, so Wine cannot tell a page
 *   fault from a general protection fault and misreports exceptions (guard
 *   pages and stack growth included). Handlers of the fault signals are
 *   called through a trampoline that fills in the number the hardware would
 *   have given.
 *
 * The library also drops LD_PRELOAD from the environment: Wine starts its
 * children through a host-side wrapper, which a 32-bit preload would only
 * trouble; the wrapper sets it again for the emulated loader.
 *
 * Built with gcc -m32 -shared; nothing here is Windows code. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#ifndef MAP_FIXED_NOREPLACE
#define MAP_FIXED_NOREPLACE 0x100000
#endif

__attribute__((constructor)) static void forget_preload(void) { unsetenv("LD_PRELOAD"); }

/* Straight to the emulated kernel: resolving the libc entry with dlsym could
 * itself allocate, and mmap2 takes the offset in pages on i386. */
static void* raw_mmap(void* addr, size_t length, int prot, int flags, int fd, uint64_t offset) {
    if (offset & 4095) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    long result = syscall(SYS_mmap2, addr, length, prot, flags, fd, (unsigned long)(offset >> 12));
    return result == -1 ? MAP_FAILED : (void*)result;
}

static void* mmap_as_the_kernel_would(void* addr, size_t length, int prot, int flags, int fd, uint64_t offset) {
    void* result = raw_mmap(addr, length, prot, flags, fd, offset);
    if ((flags & MAP_FIXED_NOREPLACE) && result != MAP_FAILED && result != addr) {
        syscall(SYS_munmap, result, length);
        errno = EEXIST;
        return MAP_FAILED;
    }
    return result;
}

void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    return mmap_as_the_kernel_would(addr, length, prot, flags, fd, (uint64_t)(uint32_t)offset);
}

void* mmap64(void* addr, size_t length, int prot, int flags, int fd, off64_t offset) {
    return mmap_as_the_kernel_would(addr, length, prot, flags, fd, (uint64_t)offset);
}

/* x86 exception vectors as the kernel reports them in the trap number. */
enum {
    TRAP_DIVIDE = 0,
    TRAP_DEBUG = 1,
    TRAP_BREAKPOINT = 3,
    TRAP_OVERFLOW = 4,
    TRAP_INVALID_OPCODE = 6,
    TRAP_PROTECTION = 13,
    TRAP_PAGE_FAULT = 14,
    TRAP_X87 = 16,
    TRAP_ALIGNMENT = 17,
    TRAP_SIMD = 19
};

static int trap_number(int signal, const siginfo_t* info) {
    switch (signal) {
    case SIGSEGV:
        return info->si_code == SEGV_MAPERR || info->si_code == SEGV_ACCERR ? TRAP_PAGE_FAULT : TRAP_PROTECTION;
    case SIGILL: return TRAP_INVALID_OPCODE;
    case SIGTRAP: return info->si_code == TRAP_BRKPT ? TRAP_BREAKPOINT : TRAP_DEBUG;
    case SIGBUS: return TRAP_ALIGNMENT;
    case SIGFPE:
        if (info->si_code == FPE_INTDIV) return TRAP_DIVIDE;
        if (info->si_code == FPE_INTOVF) return TRAP_OVERFLOW;
        return TRAP_X87;
    }
    return -1;
}

static const int fault_signals[] = {SIGSEGV, SIGILL, SIGTRAP, SIGBUS, SIGFPE};
enum { SIGNAL_LIMIT = 65 };
/* The handlers Wine asked for; read by the trampoline at any moment, so
 * written as whole words. */
static void (*volatile wanted[SIGNAL_LIMIT])(int, siginfo_t*, void*);

static void trampoline(int signal, siginfo_t* info, void* context) {
    ucontext_t* uc = context;
    if (uc && (int)uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
        uc->uc_mcontext.gregs[REG_TRAPNO] = trap_number(signal, info);
    void (*handler)(int, siginfo_t*, void*) = wanted[signal];
    if (handler) handler(signal, info, context);
}

static int is_fault_signal(int signal) {
    for (size_t i = 0; i < sizeof fault_signals / sizeof fault_signals[0]; ++i)
        if (fault_signals[i] == signal) return 1;
    return 0;
}

int sigaction(int signal, const struct sigaction* act, struct sigaction* old) {
    static int (*real)(int, const struct sigaction*, struct sigaction*);
    if (!real) real = (int (*)(int, const struct sigaction*, struct sigaction*))dlsym(RTLD_NEXT, "sigaction");
    if (!real) {
        errno = ENOSYS;
        return -1;
    }
    if (signal <= 0 || signal >= SIGNAL_LIMIT || !is_fault_signal(signal)) return real(signal, act, old);

    void (*previous)(int, siginfo_t*, void*) = wanted[signal];
    int result;
    if (act && (act->sa_flags & SA_SIGINFO)) {
        struct sigaction through = *act;
        through.sa_sigaction = trampoline;
        wanted[signal] = act->sa_sigaction;
        result = real(signal, &through, old);
        if (result != 0) wanted[signal] = previous;
    } else {
        result = real(signal, act, old);
        if (result == 0 && act) wanted[signal] = 0;
    }
    /* Callers see their own handler, never the trampoline. */
    if (result == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == trampoline)
        old->sa_sigaction = previous;
    return result;
}
