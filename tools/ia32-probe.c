/* Exits 0 when this machine runs 32-bit x86 code natively, 1 when it does not.
 * A kernel may be built with 32-bit support and still have it switched off; then 32-bit
 * programs start only under an emulator registered for them, far too slowly for the tests.
 * The probe far-returns into the 32-bit user code segment and back, in a child process. */
#define _GNU_SOURCE
#include <stdint.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

static int try_32bit_segment(void)
{
#if defined(__x86_64__)
    unsigned char* m = mmap(0, 65536, PROT_READ | PROT_WRITE | PROT_EXEC,
                            MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    if (m == MAP_FAILED)
        return 1;
    uint32_t base = (uint32_t)(uintptr_t)m;
    unsigned char* p = m;
    /* 32-bit: mov eax, 0x32323232; push 0x33; push back64; retf */
    *p++ = 0xB8; *(uint32_t*)p = 0x32323232; p += 4;
    *p++ = 0x6A; *p++ = 0x33;
    *p++ = 0x68; *(uint32_t*)p = base + 0x100; p += 4;
    *p++ = 0xCB;
    /* 64-bit at +0x100: mov rsp, r12; jmp r13 */
    unsigned char* q = m + 0x100;
    *q++ = 0x4C; *q++ = 0x89; *q++ = 0xE4;
    *q++ = 0x41; *q++ = 0xFF; *q++ = 0xE5;
    uint64_t stack = (uint64_t)(uintptr_t)(m + 65536 - 64);
    uint32_t result = 0;
    __asm__ volatile("lea 1f(%%rip), %%r13\n"
                     "mov %%rsp, %%r12\n"
                     "mov %[st], %%rsp\n"
                     "pushq $0x23\n"
                     "pushq %[tgt]\n"
                     "lretq\n"
                     "1:\n"
                     "mov %%eax, %[res]\n"
                     : [res] "=r"(result)
                     : [st] "r"(stack), [tgt] "r"((uint64_t)base)
                     : "rax", "r12", "r13", "memory");
    return result == 0x32323232 ? 0 : 1;
#else
    return 0;
#endif
}

int main(void)
{
    pid_t pid = fork();
    if (pid < 0)
        return 1;
    if (pid == 0)
        _exit(try_32bit_segment());
    int status = 0;
    if (waitpid(pid, &status, 0) != pid)
        return 1;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}
