// What a C runtime would otherwise supply to the freestanding product build.
// Compiled into the Windows DLL and the test client only.
#include <stddef.h>

extern "C" {

// Referenced by any object that touches floating point (a handler of the
// client's interface takes a double); MSVC's runtime defines it.
int _fltused = 0;

// The compiler emits calls to these for struct copies and zero fills. They
// are written with string instructions so that the compiler cannot turn
// them back into calls to themselves.
void *memcpy(void *destination, const void *source, size_t count) {
    void *d = destination;
    __asm__ volatile("rep movsb" : "+D"(d), "+S"(source), "+c"(count) : : "memory");
    return destination;
}

void *memset(void *destination, int value, size_t count) {
    void *d = destination;
    __asm__ volatile("rep stosb" : "+D"(d), "+c"(count) : "a"(value) : "memory");
    return destination;
}

// Stack probe for frames larger than a page. Windows commits a thread's
// stack one guard page at a time, so every page between the old and the new
// stack top must be touched in order. EAX holds the frame size; on return
// ESP is lowered by it and the return address sits at the new top.
__attribute__((naked)) void _chkstk() {
    __asm__ volatile(
        "pushl %ecx\n\t"
        "leal 4(%esp), %ecx\n\t"     // where our return address lies
        "subl %eax, %ecx\n\t"        // where it must lie when we return
        "sbbl %eax, %eax\n\t"
        "notl %eax\n\t"
        "andl %eax, %ecx\n\t"        // clamp to 0 when the size wrapped
        "movl %esp, %eax\n\t"
        "andl $-4096, %eax\n\t"      // the page we are on
        "1:\n\t"
        "cmpl %eax, %ecx\n\t"
        "jae 2f\n\t"
        "subl $4096, %eax\n\t"
        "testl %eax, (%eax)\n\t"     // touch the next page down
        "jmp 1b\n\t"
        "2:\n\t"
        "movl %ecx, %eax\n\t"
        "popl %ecx\n\t"
        "xchgl %eax, %esp\n\t"       // ESP = new top; EAX = address of the return address
        "movl (%eax), %eax\n\t"
        "movl %eax, (%esp)\n\t"
        "ret\n\t");
}

}  // extern "C"
