// A shared library that is not a plug-in: it exports no AgsiEntry.
extern "C" __attribute__((visibility("default"))) int notAnEntry(void) { return 0; }
