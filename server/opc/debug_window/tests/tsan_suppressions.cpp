// Under ThreadSanitizer: Qt comes from the distribution, built without the sanitizer, so the
// hand-over of work to its own worker threads (image conversion while painting) is invisible
// to it, and it reports the memory Qt passes along as raced. Suppressed are reports whose
// access is made by an interceptor called from Qt's own code. Our threads (the window's GUI
// thread, the server's, the tests') meet only through our locks, and races among them are
// still reported.
// Where Qt comes in by dlopen, its thread-local data lives in blocks that the C library hands
// from an ended thread to the next one made on the same cached stack, behind its own lock.
extern "C" const char* __tsan_default_suppressions() {
  return "called_from_lib:libQt6Core.so.6\n"
         "called_from_lib:libQt6Gui.so.6\n"
         "called_from_lib:libQt6Widgets.so.6\n"
         "race:_dl_deallocate_tls\n";
}
