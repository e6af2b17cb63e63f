// A shared library that loads but exports no EntryPointFunc, for the loader's
// "not an effect" case.
#if defined(_WIN32)
#define NO_ENTRY_EXPORT __declspec(dllexport)
#else
#define NO_ENTRY_EXPORT __attribute__((visibility("default")))
#endif

extern "C" NO_ENTRY_EXPORT int NotTheEntryPoint() {
    return 42;
}
