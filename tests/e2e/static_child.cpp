// The payload of the empty-root checks: a program that needs no library to start, prints one
// line and exits with the code given as its first argument.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  std::puts("static child ran");
  return argc > 1 ? std::atoi(argv[1]) : 0;
}
