// Which exception code a 32-bit program receives for each hardware fault, as Windows raises them:
// a read and a write of address 0 are access violations (c0000005, with the read or write flag),
// an integer division by zero is c0000094, an invalid instruction c000001d. Under an emulator
// that loses the fault's trap number these arrive wrongly, and code that catches access
// violations breaks; scripts/test-i686 runs this first, so such a machine is named at once.
// Prints one line per fault and exits with 0 only when every code is right.
#include <windows.h>

#include <cstdio>

namespace {

struct TFault {
    const char *name;
    void (*raise)();
    DWORD length; // bytes of the faulting instruction, skipped to go on
    DWORD code;
    int accessFlag; // ExceptionInformation[0] for access violations: 0 read, 1 write; else -1
};

// Each raises its fault at its first instruction, whose length the table gives.
__attribute__((noinline, naked)) void ReadZero() {
    asm volatile(".byte 0xA1, 0, 0, 0, 0\n\tret"); // mov eax, [0]
}
__attribute__((noinline, naked)) void WriteZero() {
    asm volatile(".byte 0xA3, 0, 0, 0, 0\n\tret"); // mov [0], eax
}
__attribute__((noinline, naked)) void DivideByZero() {
    asm volatile("xor %edx, %edx\n\txor %ecx, %ecx\n\tmov $7, %eax\n\t"
                 ".byte 0xF7, 0xF1\n\tret"); // div ecx
}
__attribute__((noinline, naked)) void InvalidInstruction() {
    asm volatile("ud2\n\tret");
}

const TFault Faults[] = {
    {"read of address 0", ReadZero, 5, EXCEPTION_ACCESS_VIOLATION, 0},
    {"write to address 0", WriteZero, 5, EXCEPTION_ACCESS_VIOLATION, 1},
    {"division by zero", DivideByZero, 2, EXCEPTION_INT_DIVIDE_BY_ZERO, -1},
    {"invalid instruction", InvalidInstruction, 2, EXCEPTION_ILLEGAL_INSTRUCTION, -1},
};

const TFault *current = nullptr;
DWORD seenCode = 0;
ULONG_PTR seenFlag = 0;

// Records the code and steps over the faulting instruction of the current fault only.
LONG CALLBACK Record(EXCEPTION_POINTERS *pointers) {
    if (!current) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    seenCode = record->ExceptionCode;
    seenFlag = record->NumberParameters > 0 ? record->ExceptionInformation[0] : 0;
    pointers->ContextRecord->Eip += current->length;
    return EXCEPTION_CONTINUE_EXECUTION;
}

} // namespace

int main() {
    AddVectoredExceptionHandler(1, Record);
    int wrong = 0;
    for (const TFault &fault : Faults) {
        seenCode = 0;
        seenFlag = 0;
        current = &fault;
        fault.raise();
        current = nullptr;
        bool right = seenCode == fault.code &&
                     (fault.accessFlag < 0 || seenFlag == static_cast<ULONG_PTR>(fault.accessFlag));
        std::printf("%-20s %08lx flag %lu: %s\n", fault.name, static_cast<unsigned long>(seenCode),
                    static_cast<unsigned long>(seenFlag), right ? "as on Windows" : "WRONG");
        wrong += right ? 0 : 1;
    }
    return wrong == 0 ? 0 : 1;
}
