// Fontconfig keeps its configuration for the life of the process (cairo's
// text measuring loads it once), and glibc keeps the search list it builds
// from LOCPATH in newlocale (the locale test makes an Italian locale that
// way); the leak checker is told so, and nothing else is hidden from it.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:__argz_add_sep\n";
}
