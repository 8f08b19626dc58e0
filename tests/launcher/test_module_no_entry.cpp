// A package without the module entry, for the loader's failure path.
extern "C" __attribute__((visibility("default"))) int NotTheEntry() { return 0; }
