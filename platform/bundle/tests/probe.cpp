// Code whose address tells bundleOfCode where the shared object holding it lies.
extern "C" [[gnu::visibility("default")]] int kestraneBundleProbe() { return 1; }
