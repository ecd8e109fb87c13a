// fontconfig, which Qt loads for text, keeps a cache that it never frees; the
// leak checker of sanitizer builds reads that as a leak of every test.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
