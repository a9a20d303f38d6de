// ThreadSanitizer's defaults for the test programs of the tsan build. Races are looked for
// in instrumented code only: glib, umockdev and libusb synchronise in ways the sanitizer
// cannot see (futexes, the emulator's socket protocol), so its interceptors are not
// checked when those libraries call them. The JVM suites set the same through TSAN_OPTIONS.
extern "C" const char* __tsan_default_options()
{
    return "ignore_noninstrumented_modules=1:halt_on_error=1";
}
