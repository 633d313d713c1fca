// A notification library without its entry point.
extern "C" __attribute__((visibility("default"))) int zuintfVersion() { return 1; }
