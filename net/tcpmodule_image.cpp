// The TCP module's file inside the program (see tcpfront.h). NORVANE_TCP_MODULE names the
// module as the build made it, debug information taken out.
asm(".section .rodata\n"
    ".balign 64\n"
    ".globl norvane_tcp_module_start\n"
    ".hidden norvane_tcp_module_start\n"
    "norvane_tcp_module_start:\n"
    ".incbin \"" NORVANE_TCP_MODULE "\"\n"
    ".globl norvane_tcp_module_end\n"
    ".hidden norvane_tcp_module_end\n"
    "norvane_tcp_module_end:\n"
    ".previous\n");
