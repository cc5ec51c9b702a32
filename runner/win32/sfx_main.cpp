// The Windows runner's entry point (wide-character main).
int wmain() { return 99; }
