// The isorun host tool.
#include <cstdio>
int main() { std::puts("isorun"); return 0; }
