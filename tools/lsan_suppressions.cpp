// Leak reports that the sanitizer build of terrava-tiles leaves out: glib, GObject, GIO and
// libvips allocate type records, thread pools and caches once and keep them until the process
// ends. Only reports whose allocation passes through those libraries are dropped; compiled
// into the program so every run (tests, scripts) gets them without LSAN_OPTIONS.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libgio-2.0.so\n"
           "leak:libvips.so\n";
}
