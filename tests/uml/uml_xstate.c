// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into the user-mode Linux kernel. UML saves and restores its
// processes' extended registers (PTRACE_GETREGSET / SETREGSET, NT_X86_XSTATE)
// in a buffer sized for AVX-512. Where the host CPU has more register state
// (AMX tiles), the host kernel wants the whole area on SETREGSET and refuses a
// shorter one with EFAULT, and UML kills the process it was switching to -
// the guest's init among the first. This passes a short area on at the
// host's full size, the rest zero: the header UML hands over marks those
// components as unused, so they stay in their initial state.
#define _GNU_SOURCE
#include <cpuid.h>
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/uio.h>

typedef long (*ptrace_fn)(enum __ptrace_request, ...);

// The XSAVE area for every feature the CPU has (CPUID 0xD, sub-leaf 0, ECX).
static size_t host_xstate_size(void) {
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid_count(0xD, 0, &eax, &ebx, &ecx, &edx)) return 0;
    return ecx;
}

// UML runs its kernel on one host thread and calls ptrace only from it, so
// one static area serves every call (its kernel stacks are too small for one).
static _Alignas(64) unsigned char full_area[64 * 1024];

long ptrace(enum __ptrace_request request, ...) {
    static ptrace_fn real;
    if (!real) real = (ptrace_fn)dlsym(RTLD_NEXT, "ptrace");
    va_list args;
    va_start(args, request);
    const pid_t pid = va_arg(args, pid_t);
    void* const addr = va_arg(args, void*);
    void* const data = va_arg(args, void*);
    va_end(args);
    const long result = real(request, pid, addr, data);
    if (result == 0 || errno != EFAULT || request != PTRACE_SETREGSET || (uintptr_t)addr != NT_X86_XSTATE)
        return result;
    const struct iovec* given = data;
    const size_t size = host_xstate_size();
    if (size <= given->iov_len || size > sizeof full_area) return result;
    memcpy(full_area, given->iov_base, given->iov_len);
    memset(full_area + given->iov_len, 0, size - given->iov_len);
    struct iovec whole = {full_area, size};
    return real(request, pid, addr, &whole);
}
