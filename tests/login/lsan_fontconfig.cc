// Fontconfig keeps its configuration for the life of the process (cairo's
// text measuring loads it once); the leak checker is told so, and nothing
// else is hidden from it.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
