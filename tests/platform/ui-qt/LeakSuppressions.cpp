// LeakSanitizer's suppressions for the programs that show Qt windows.
//
// The QApplication is kept until the process ends, so what Qt holds is still
// reachable at exit and needs no entry. The font library loads its
// configuration once per process (Qt's font database asks for it on the first
// text drawn) and keeps it in blocks it no longer points to; that is the one
// entry. It names the library's own frames only, because the library has no
// frame pointers and the sanitizer's fast unwinder stops inside it.
extern "C" const char* __lsan_default_suppressions();
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
