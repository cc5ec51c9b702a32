/* The demo's embedded program: shows where it runs and what it was given. Builds with any C
   compiler, for Windows (autorun.exe) and for Linux (autorun). */
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  int i;
  printf("Hello from inside the disc image.\n");
  printf("Started as: %s\n", argv[0]);
  for (i = 1; i < argc; ++i) printf("  argument %d: %s\n", i, argv[i]);
  if (argc < 2) printf("  (no arguments)\n");
  return 0;
}
