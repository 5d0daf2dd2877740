// What a C runtime would otherwise supply to the freestanding product build.
// Compiled into the Windows DLL and the test client only. Written in the
// forms that Visual Studio's compiler (cl) and clang both accept.
#include <stddef.h>

extern "C" {

// Referenced by any object that touches floating point (a handler of the
// client's interface takes a double); MSVC's runtime defines it.
int _fltused = 0;

// cl treats memcpy and memset as intrinsics under /O2 and refuses a
// definition of an intrinsic unless told that these are functions; clang
// (14) needs no such word and knows no such pragma.
#if defined(_MSC_VER) && !defined(__clang__)
#pragma function(memcpy, memset)
#endif

// The compiler emits calls to these for struct copies and zero fills. They
// are written with string instructions in assembly so that the compiler
// cannot turn them back into calls to themselves (clang lowers the __stosb
// intrinsic to a memset call, and knows no __movsb intrinsic at all).
void *memcpy(void *destination, const void *source, size_t count) {
    __asm {
        mov edi, destination
        mov esi, source
        mov ecx, count
        rep movsb
    }
    return destination;
}

void *memset(void *destination, int value, size_t count) {
    __asm {
        mov edi, destination
        mov eax, value
        mov ecx, count
        rep stosb
    }
    return destination;
}

// Stack probe for frames larger than a page. Windows commits a thread's
// stack one guard page at a time, so every page between the old and the new
// stack top must be touched in order. EAX holds the frame size; on return
// ESP is lowered by it and the return address sits at the new top.
__declspec(naked) void _chkstk() {
    __asm {
        push ecx
        lea ecx, [esp + 4]    // where our return address lies
        sub ecx, eax          // where it must lie when we return
        sbb eax, eax
        not eax
        and ecx, eax          // clamp to 0 when the size wrapped
        mov eax, esp
        and eax, -4096        // the page we are on
    next_page:
        cmp ecx, eax
        jae probed
        sub eax, 4096
        test [eax], eax       // touch the next page down
        jmp next_page
    probed:
        mov eax, ecx
        pop ecx
        xchg eax, esp         // ESP = new top; EAX = address of the return address
        mov eax, [eax]
        mov [esp], eax
        ret
    }
}

}  // extern "C"
