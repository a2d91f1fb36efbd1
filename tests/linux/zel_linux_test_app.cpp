// The layer's test binary makes no file hierarchy: its init process ends at
// once, and the tests run their own processes.
extern "C" int app_create_file_hierarchy(void) { return 1; }
