// The quorsim program is the library's own entry run as a program: the kernel
// calls the sc_main that libquorsim provides.
#include "kernel_entry.h"

int main(int argc, char** argv) { return RunKernel(argc, argv); }
