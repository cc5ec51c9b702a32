// The Linux runner's entry point.
int main() { return 99; }
