// A library for the loader tests: one known export.
extern "C" __attribute__((visibility("default"))) int vorktest_answer() { return 42; }
