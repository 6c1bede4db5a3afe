/* Loaded into Wine's 32-bit Linux processes when they run under qemu's user-mode emulator.
 *
 * Wine turns a fault into a Windows exception by the x86 trap number that Linux leaves in the
 * signal context (uc_mcontext.gregs[REG_TRAPNO]). qemu fills the error code there but leaves the
 * trap number at -1, so an access violation reaches the program as an illegal instruction and a
 * division by zero as a floating-point fault, and code that catches access violations breaks.
 *
 * This library stands between sigaction() and the handlers installed through it: for the fault
 * signals, each handler is wrapped so that, when the trap number is -1, it is first set from the
 * signal and its si_code (x86 vector numbers: 0 divide error, 1 debug, 3 breakpoint, 4 overflow,
 * 6 invalid opcode, 13 general protection, 14 page fault, 16 x87 error, 17 alignment check).
 * Where the trap number is already set (a real kernel) nothing changes. The wrapper calls nothing
 * of the C library, so it does not care which segment registers the interrupted code had loaded.
 *
 * Build: gcc -m32 -shared -fPIC -O2 -o qemu-trapno.so qemu-trapno.c (-ldl on older C libraries)
 * Use:   LD_PRELOAD=/path/qemu-trapno.so wine ...
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <signal.h>
#include <stddef.h>
#include <ucontext.h>

enum {
    kTrapDivide = 0,
    kTrapDebug = 1,
    kTrapBreakpoint = 3,
    kTrapOverflow = 4,
    kTrapInvalidOpcode = 6,
    kTrapProtection = 13,
    kTrapPageFault = 14,
    kTrapX87 = 16,
    kTrapAlignment = 17,
};

typedef void (*info_handler)(int, siginfo_t *, void *);
typedef int (*sigaction_fn)(int, const struct sigaction *, struct sigaction *);

/* The handler each fault signal was given, called after the trap number is mended. */
static info_handler wrapped[NSIG];

static int trap_for(int sig, int code) {
    switch (sig) {
    case SIGSEGV:
        return code == SEGV_MAPERR || code == SEGV_ACCERR ? kTrapPageFault : kTrapProtection;
    case SIGFPE:
        if (code == FPE_INTDIV)
            return kTrapDivide;
        return code == FPE_INTOVF ? kTrapOverflow : kTrapX87;
    case SIGILL:
        return kTrapInvalidOpcode;
    case SIGTRAP:
        return code == TRAP_TRACE ? kTrapDebug : kTrapBreakpoint;
    case SIGBUS:
        return code == BUS_ADRALN ? kTrapAlignment : kTrapPageFault;
    default:
        return -1;
    }
}

static int is_fault_signal(int sig) {
    return sig == SIGSEGV || sig == SIGFPE || sig == SIGILL || sig == SIGTRAP || sig == SIGBUS;
}

static void mend_trap_number(int sig, siginfo_t *info, void *context) {
    ucontext_t *uc = context;
    if (uc && info && uc->uc_mcontext.gregs[REG_TRAPNO] == -1)
        uc->uc_mcontext.gregs[REG_TRAPNO] = trap_for(sig, info->si_code);
    if (wrapped[sig])
        wrapped[sig](sig, info, context);
}

static sigaction_fn next_sigaction(void) {
    static sigaction_fn next;
    if (!next)
        next = (sigaction_fn)dlsym(RTLD_NEXT, "sigaction");
    return next;
}

int sigaction(int sig, const struct sigaction *act, struct sigaction *old) {
    sigaction_fn next = next_sigaction();
    if (!next)
        return -1;
    if (sig <= 0 || sig >= NSIG || !is_fault_signal(sig))
        return next(sig, act, old);

    /* The handler to call is in place before the wrapper can run. */
    info_handler before = wrapped[sig];
    struct sigaction mine;
    const struct sigaction *given = act;
    if (act && (act->sa_flags & SA_SIGINFO) && act->sa_sigaction) {
        mine = *act;
        mine.sa_sigaction = mend_trap_number;
        given = &mine;
        wrapped[sig] = act->sa_sigaction;
    }
    int result = next(sig, given, old);
    if (result != 0)
        wrapped[sig] = before;
    /* Whoever asks sees the handler it installed, not this wrapper. */
    if (result == 0 && old && (old->sa_flags & SA_SIGINFO) && old->sa_sigaction == mend_trap_number)
        old->sa_sigaction = before;
    return result;
}
