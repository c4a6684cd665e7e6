// The quorsim program is the library's own entry run as a program: main() comes
// from the SystemC library and calls the sc_main that libquorsim provides.
